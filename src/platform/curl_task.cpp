#include "platform/curl_task.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace zavoket {
namespace {

using State = ConnectionState;

// Failures where the client gave up by its own rule, not because the connection broke.
bool isRefusal(CURLcode code) {
    return code == CURLE_TOO_MANY_REDIRECTS || code == CURLE_UNSUPPORTED_PROTOCOL ||
           code == CURLE_FILESIZE_EXCEEDED || code == CURLE_URL_MALFORMAT ||
           code == CURLE_BAD_CONTENT_ENCODING;
}

}  // namespace

CurlTask::CurlTask(CurlTaskContext& context, RequestId id, std::string url, BodySink& sink,
                   TransferEvents& events)
    : context_(context),
      id_(id),
      events_(events),
      url_(std::move(url)),
      sink_(sink),
      easy_(curl_easy_init()) {
    std::replace(url_.begin(), url_.end(), '\\', '/');
    if (!easy_) {
        throw std::runtime_error("libcurl could not create a transfer");
    }
    configure();
}

CurlTask::~CurlTask() {
    // A connection it opened that outlives it, or goes with it, closes unreported.
    std::erase_if(context_.sockets, [this](const auto& entry) { return entry.second == this; });
    // Out of the multi handle before its cleanup, as libcurl asks; nothing where it is out.
    curl_multi_remove_handle(context_.multi.get(), easy_.get());
}

void CurlTask::tellEnd() {
    context_.post([&events = events_, id = id_, result = std::move(result_)]() mutable {
        events.requestEnded(id, std::move(result));
    });
}

void CurlTask::abandon() {
    // A no-op where it is not in (it waits to be tried again); done from here on, nothing asks
    // whether it is.
    curl_multi_remove_handle(context_.multi.get(), easy_.get());
    result_ = {};
    result_.outcome = FetchOutcome::Cancelled;
    result_.detail = "dropped before its end";
    done_ = true;
}

void CurlTask::begin() {
    CURL* easy = easy_.get();
    plan_ = sink_.plan();
    if (!plan_.possible) {
        result_.outcome = FetchOutcome::SinkFailed;
        result_.detail = "the destination cannot take the file: nothing was asked";
        done_ = true;
        return;
    }
    // Where a copy stands, its length and time are held against the server's from a HEAD: a
    // copy that is the file costs no body, and its connection stays for the next file.
    heading_ = plan_.modifiedSince.has_value();
    curl_easy_setopt(easy, CURLOPT_NOBODY, heading_ ? 1L : 0L);
    askForTheRest();
    const std::string proxy = context_.proxyFor(url_);
    proxied_ = !proxy.empty();
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());  // "": none, whatever the environment
    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    added_ = curl_multi_add_handle(context_.multi.get(), easy) == CURLM_OK;
    if (!added_) {
        finish(CURLE_FAILED_INIT);
    }
}

void CurlTask::finish(CURLcode code) {
    if (heading_ && code == CURLE_OK && !context_.cancelled.load()) {
        if (bodyAfterHead()) {
            return;
        }
        code = added_ ? code : CURLE_FAILED_INIT;  // the body could not be asked for
    }
    result_ = outcome(code);
    done_ = true;
}

FetchResult CurlTask::outcome(CURLcode code) {
    CURL* easy = easy_.get();
    FetchResult r;
    long proxyStatus = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &r.httpStatus);
    curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
    r.detail = errorText_[0] != '\0' ? errorText_ : curl_easy_strerror(code);
    // Through a proxy, a refusal or a request for a password is the proxy's word, not the
    // server's, whether it came to the request itself or to the tunnel for it.
    const auto refusal = [](long status) { return status == 403 || status == 407; };
    r.proxyRefused = proxied_ && (refusal(proxyStatus) || refusal(r.httpStatus));
    r.noRoom = stop_ == Stop::NoRoom;
    if (context_.cancelled.load()) {
        r.outcome = FetchOutcome::Cancelled;
    } else if (code == CURLE_OK && stop_ != Stop::OutOfStep) {
        r.outcome = completed(r.httpStatus);
    } else {
        flushHeldClose();
        r.outcome = failed(code, r);
    }
    return r;
}

// The answer came whole: the sink is told the body is whole, and keeps it or says why it
// cannot.
FetchOutcome CurlTask::completed(long status) {
    const auto modified = servedModified();
    const bool whole = status == 200 || (status == 206 && bodyWanted_);
    if (whole && !copyStands_ && stop_ == Stop::None && modified) {
        sink_.setModified(*modified);
    }
    const FetchOutcome outcome = copyStands_             ? FetchOutcome::NotModified
                                 : stop_ == Stop::NoRoom ? FetchOutcome::SinkFailed
                                 : !whole                ? FetchOutcome::HttpError
                                 : sink_.complete()      ? FetchOutcome::Received
                                                         : FetchOutcome::SinkFailed;
    // Only a file's body is one to be repeated: pages refused alike for two files are not.
    if (outcome == FetchOutcome::Received && signed_) {
        context_.recentAnswers.emplace_back(answeredPath(), *signed_);
        if (context_.recentAnswers.size() > 256) {
            context_.recentAnswers.pop_front();
        }
    }
    post(State::ResponseReceived);
    flushHeldClose();
    post(State::Completed);
    return outcome;
}

FetchOutcome CurlTask::failed(CURLcode code, FetchResult& r) {
    if (stop_ == Stop::OtherTooLarge) {
        r.detail = "the answer is larger than any error page needs";
        return FetchOutcome::HttpError;
    }
    if (stop_ == Stop::SinkFailed || stop_ == Stop::NoRoom) {
        r.detail = "the body could not be kept";
        return FetchOutcome::SinkFailed;
    }
    r.insecureRedirect =
        code == CURLE_UNSUPPORTED_PROTOCOL && https_ && location_.starts_with("http:");
    if (stop_ == Stop::TooLarge || isRefusal(code)) {
        return FetchOutcome::Refused;
    }
    if (r.proxyRefused) {
        return FetchOutcome::HttpError;  // the proxy said no: the link itself is fine
    }
    post(State::Error);
    return FetchOutcome::TransportError;
}

}  // namespace zavoket
