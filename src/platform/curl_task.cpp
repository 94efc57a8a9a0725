#include "platform/curl_task.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace zavoket {
namespace {

using State = ConnectionState;

// An error page or a redirect has no use for a larger body: past this the fetch ends, so an
// endless one cannot hold the batch.
constexpr std::uint64_t kMaxOtherBodyBytes = 1 << 20;

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
        task->post(State::Receiving);
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
    bodyWanted_ = status == 200 && !heading_;
    redirecting_ = status / 100 == 3;
    received_ = 0;
    const auto declared = length > 0 ? static_cast<std::uint64_t>(length) : 0;
    if (declared > context_.options.maxBodyBytes) {
        stop_ = Stop::TooLarge;
    } else if (!bodyWanted_ && !heading_ && declared > kMaxOtherBodyBytes) {
        stop_ = Stop::OtherTooLarge;
    } else if (bodyWanted_ && !sink_.hasRoomFor(declared)) {
        stop_ = Stop::NoRoom;  // ends here, before any of the body is taken
    } else if (bodyWanted_ && !sink_.restart(type != nullptr ? type : "")) {
        stop_ = Stop::SinkFailed;
    }
    return stop_ == Stop::None;
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
    const auto modified = servedModified();
    if (status == 200 && !copyStands_ && stop_ == Stop::None && modified) {
        sink_.setModified(*modified);
    }
    const FetchOutcome outcome = copyStands_             ? FetchOutcome::NotModified
                                 : stop_ == Stop::NoRoom ? FetchOutcome::SinkFailed
                                 : status != 200         ? FetchOutcome::HttpError
                                 : sink_.complete()      ? FetchOutcome::Received
                                                         : FetchOutcome::SinkFailed;
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
