// Another attempt at a request whose link failed for a while, or whose server was busy.
#include "platform/curl_task.h"

#include <algorithm>
#include <utility>

namespace zavoket {
namespace {

constexpr curl_off_t kLongestRetryAfter = 30;

// A link that failed for a while: refused, reset, timed out, cut mid-body.
bool isPassing(CURLcode code) {
    return code == CURLE_COULDNT_CONNECT || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR ||
           code == CURLE_OPERATION_TIMEDOUT || code == CURLE_PARTIAL_FILE ||
           code == CURLE_GOT_NOTHING || code == CURLE_HTTP2 || code == CURLE_HTTP2_STREAM;
}

}  // namespace

void CurlTask::askForTheRest() {
    CURL* easy = easy_.get();
    range_ = resumeFrom_ > 0 ? std::to_string(resumeFrom_) + "-" : "";
    ifRange_.reset(resumeFrom_ > 0 ? curl_slist_append(nullptr, ("If-Range: " + validator_).c_str())
                                   : nullptr);
    curl_easy_setopt(easy, CURLOPT_RANGE, resumeFrom_ > 0 ? range_.c_str() : nullptr);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, ifRange_.get());
}

std::optional<CurlTask::Retry> CurlTask::retryDelay(CURLcode code, bool othersOpen) const {
    long status = 0;
    curl_off_t retryAfter = -1;
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy_.get(), CURLINFO_RETRY_AFTER, &retryAfter);
    const bool busyAnswer = code == CURLE_OK && (status == 503 || status == 429);
    // A server that allows fewer connections than ours refuses, resets or closes the extra one.
    const bool busy = busyAnswer || (othersOpen && !responseStarted_ &&
                                     (code == CURLE_COULDNT_CONNECT || code == CURLE_RECV_ERROR ||
                                      code == CURLE_SEND_ERROR || code == CURLE_GOT_NOTHING));
    const bool again = busy || (code == CURLE_OK && status == 408) || stop_ == Stop::OutOfStep ||
                       (stop_ == Stop::None && isPassing(code) && !proxied_);
    if (!again || context_.cancelled.load()) {
        return std::nullopt;
    }
    if (busyAnswer && retryAfter >= 0) {
        return Retry{std::chrono::seconds(std::min(retryAfter, kLongestRetryAfter)), busy};
    }
    return Retry{context_.options.firstPause * (1 << std::min(tries_, 8)), busy};
}

void CurlTask::prepareRetry(bool counted) {
    if (std::exchange(added_, false)) {
        curl_multi_remove_handle(context_.multi.get(), easy_.get());
    }
    flushHeldClose();
    tries_ += counted ? 1 : 0;
    if (stop_ == Stop::OutOfStep) {
        bodyBytes_ = 0;  // not the file's bytes: nothing of them to go on from
    }
    requestSent_ = responseStarted_ = bodyWanted_ = redirecting_ = false;
    resolveReported_ = socketOpened_ = false;
    stop_ = Stop::None;
    errorText_[0] = '\0';
    resumeFrom_ = !validator_.empty() ? bodyBytes_ : 0;
}

}  // namespace zavoket
