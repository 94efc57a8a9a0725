#include "platform/curl_task.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace zavoket {
namespace {

using State = ConnectionState;

// An error page or a redirect has no use for a larger body: past this the fetch ends, so an
// endless one cannot hold the batch.
constexpr std::uint64_t kMaxOtherBodyBytes = 1 << 20;

constexpr curl_off_t kLongestRetryAfter = 30;

// A link that failed for a while: refused, reset, timed out, cut mid-body.
bool isPassing(CURLcode code) {
    return code == CURLE_COULDNT_CONNECT || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR ||
           code == CURLE_OPERATION_TIMEDOUT || code == CURLE_PARTIAL_FILE ||
           code == CURLE_GOT_NOTHING || code == CURLE_HTTP2 || code == CURLE_HTTP2_STREAM;
}

bool headerIs(std::string_view line, std::string_view name) {
    return line.size() > name.size() && line[name.size()] == ':' &&
           std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

std::string headerValue(std::string_view line) {
    line.remove_prefix(line.find(':') + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        line.remove_prefix(1);
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) {
        line.remove_suffix(1);
    }
    return std::string(line);
}

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
      easy_(curl_easy_init()),
      url_(std::move(url)),
      sink_(sink) {
    std::replace(url_.begin(), url_.end(), '\\', '/');
    if (!easy_) {
        throw std::runtime_error("libcurl could not create a transfer");
    }
    configure();
}

CurlTask::~CurlTask() {
    // A connection it opened that outlives it, or goes with it, closes unreported.
    std::erase_if(context_.sockets, [this](const auto& entry) { return entry.second == this; });
    if (added_) {
        curl_multi_remove_handle(context_.multi.get(), easy_.get());
    }
}

void CurlTask::tellEnd() {
    context_.post([&events = events_, id = id_, result = std::move(result_)]() mutable {
        events.requestEnded(id, std::move(result));
    });
}

void CurlTask::abandon() {
    if (std::exchange(added_, false)) {
        curl_multi_remove_handle(context_.multi.get(), easy_.get());
    }
    result_ = {};
    result_.outcome = FetchOutcome::Cancelled;
    result_.detail = "dropped before its end";
    done_ = true;
}

size_t CurlTask::onHeader(char* data, size_t size, size_t count, void* self) {
    auto* task = static_cast<CurlTask*>(self);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        task->bodyWanted_ = task->redirecting_ = false;
        task->responseStarted_ = true;
        task->etag_.clear();
        task->lastModified_.clear();
        task->contentRange_.clear();
        task->post(State::Receiving);
        if (!task->requestSent_) {
            // An answer to no request of this one's: the connection is out of step.
            task->stop_ = Stop::OutOfStep;
            return 0;
        }
    } else if (headerIs(line, "etag")) {
        task->etag_ = headerValue(line);
    } else if (headerIs(line, "last-modified")) {
        task->lastModified_ = headerValue(line);
    } else if (headerIs(line, "content-range")) {
        task->contentRange_ = headerValue(line);
    } else if ((line == "\r\n" || line == "\n") && !task->endOfHeaders()) {
        return 0;
    }
    return size * count;
}

size_t CurlTask::onBody(char* data, size_t size, size_t count, void* self) {
    auto* task = static_cast<CurlTask*>(self);
    const size_t n = size * count;
    task->received_ += n;
    if (!task->bodyWanted_) {
        // An error page: read and let go, up to its limit.
        task->stop_ = task->received_ > kMaxOtherBodyBytes ? Stop::OtherTooLarge : Stop::None;
    } else if (task->received_ > task->context_.options.maxBodyBytes) {
        task->stop_ = Stop::TooLarge;
    } else if (!task->sink_.append(std::span<const char>(data, n))) {
        task->stop_ = Stop::SinkFailed;
    } else {
        task->bodyBytes_ += n;
    }
    return task->stop_ == Stop::None ? n : 0;
}

int CurlTask::onProgress(void* self, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
    auto* task = static_cast<CurlTask*>(self);
    // A redirect's body is read by libcurl itself and never reaches onBody.
    if (task->redirecting_ && static_cast<std::uint64_t>(now) > kMaxOtherBodyBytes) {
        task->stop_ = Stop::OtherTooLarge;
        return 1;
    }
    return task->context_.cancelled.load() ? 1 : 0;
}

// The headers of one response of the chain are in. Each starts afresh; only a 200 has a body
// worth keeping. False ends the fetch.
bool CurlTask::endOfHeaders() {
    CURL* e = easy_.get();
    curl_off_t length = -1;
    long status = 0;
    const char* type = nullptr;
    curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(e, CURLINFO_CONTENT_TYPE, &type);
    // The rest of a body cut short comes as a 206 from where the sink stands; a whole body
    // begins it afresh.
    const bool rest = status == 206 && resumeFrom_ > 0 &&
                      contentRange_.starts_with("bytes " + std::to_string(resumeFrom_) + "-");
    bodyWanted_ = status == 200 || rest;
    redirecting_ = status / 100 == 3;
    received_ = rest ? resumeFrom_ : 0;
    if (status == 200) {
        validator_ = !etag_.empty() && !etag_.starts_with("W/") ? etag_ : lastModified_;
        bodyBytes_ = 0;
    }
    const auto declared = (length > 0 ? static_cast<std::uint64_t>(length) : 0) + received_;
    curl_easy_getinfo(e, CURLINFO_ACTIVESOCKET, &socket_);
    if (declared > context_.options.maxBodyBytes) {
        stop_ = Stop::TooLarge;
    } else if (!bodyWanted_ && declared > kMaxOtherBodyBytes) {
        stop_ = Stop::OtherTooLarge;
    } else if (status == 200 && !sink_.restart(type != nullptr ? type : "")) {
        stop_ = Stop::SinkFailed;
    }
    return stop_ == Stop::None;
}

void CurlTask::begin() {
    CURL* easy = easy_.get();
    const BodyPlan plan = sink_.plan();
    if (!plan.possible) {
        result_.outcome = FetchOutcome::SinkFailed;
        result_.detail = "the destination cannot take the file: nothing was asked";
        done_ = true;
        return;
    }
    conditional_ = plan.modifiedSince.has_value();
    curl_easy_setopt(easy, CURLOPT_TIMECONDITION,
                     conditional_ ? CURL_TIMECOND_IFMODSINCE : CURL_TIMECOND_NONE);
    curl_easy_setopt(easy, CURLOPT_TIMEVALUE_LARGE,
                     static_cast<curl_off_t>(plan.modifiedSince.value_or(0)));
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

void CurlTask::askForTheRest() {
    CURL* easy = easy_.get();
    range_ = resumeFrom_ > 0 ? std::to_string(resumeFrom_) + "-" : "";
    ifRange_.reset(resumeFrom_ > 0 ? curl_slist_append(nullptr, ("If-Range: " + validator_).c_str())
                                   : nullptr);
    curl_easy_setopt(easy, CURLOPT_RANGE, resumeFrom_ > 0 ? range_.c_str() : nullptr);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, ifRange_.get());
}

std::optional<std::chrono::milliseconds> CurlTask::retryDelay(CURLcode code, bool othersOpen,
                                                              bool& busy) const {
    long status = 0;
    curl_off_t retryAfter = -1;
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy_.get(), CURLINFO_RETRY_AFTER, &retryAfter);
    const bool busyAnswer = code == CURLE_OK && (status == 503 || status == 429);
    // A server that allows fewer connections than ours refuses, resets or closes the extra one.
    busy = busyAnswer || (othersOpen && !responseStarted_ &&
                          (code == CURLE_COULDNT_CONNECT || code == CURLE_RECV_ERROR ||
                           code == CURLE_SEND_ERROR || code == CURLE_GOT_NOTHING));
    const bool again = busy || (code == CURLE_OK && status == 408) || stop_ == Stop::OutOfStep ||
                       (stop_ == Stop::None && isPassing(code) && !proxied_);
    if (!again || context_.cancelled.load()) {
        return std::nullopt;
    }
    if (busyAnswer && retryAfter >= 0) {
        return std::chrono::seconds(std::min(retryAfter, kLongestRetryAfter));
    }
    return context_.options.firstPause * (1 << std::min(tries_, 8));
}

void CurlTask::prepareRetry() {
    if (std::exchange(added_, false)) {
        curl_multi_remove_handle(context_.multi.get(), easy_.get());
    }
    flushHeldClose();
    ++tries_;
    requestSent_ = responseStarted_ = bodyWanted_ = redirecting_ = false;
    resolveReported_ = socketOpened_ = false;
    stop_ = Stop::None;
    errorText_[0] = '\0';
    resumeFrom_ = !validator_.empty() ? bodyBytes_ : 0;
}

void CurlTask::finish(CURLcode code) {
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
    if (context_.cancelled.load()) {
        r.outcome = FetchOutcome::Cancelled;
    } else if (code == CURLE_OK) {
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
    long unmet = 0;
    curl_off_t modified = -1;
    curl_easy_getinfo(easy_.get(), CURLINFO_CONDITION_UNMET, &unmet);
    curl_easy_getinfo(easy_.get(), CURLINFO_FILETIME_T, &modified);
    // A 304 keeps the copy only where the request named one; libcurl also drops the body of a
    // 200 that is not newer than the copy, as for a server that cannot answer 304.
    const bool keep = conditional_ && (status == 304 || unmet != 0);
    const bool whole = status == 200 || (status == 206 && bodyWanted_);
    if (whole && !keep && modified >= 0) {
        sink_.setModified(modified);
    }
    const FetchOutcome outcome = keep               ? FetchOutcome::NotModified
                                 : !whole           ? FetchOutcome::HttpError
                                 : sink_.complete() ? FetchOutcome::Received
                                                    : FetchOutcome::SinkFailed;
    // An answer that is not the file may be one the server sent unasked, and the file's own
    // answer would then come to the next request on that connection: none goes on it.
    if ((whole && outcome != FetchOutcome::Received) || status == 408) {
        endConnection();
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
    if (stop_ == Stop::SinkFailed) {
        r.detail = "the body could not be kept";
        return FetchOutcome::SinkFailed;
    }
    const char* next = nullptr;
    curl_easy_getinfo(easy_.get(), CURLINFO_REDIRECT_URL, &next);
    r.insecureRedirect = code == CURLE_UNSUPPORTED_PROTOCOL && https_ && next != nullptr &&
                         std::string_view(next).starts_with("http:");
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
