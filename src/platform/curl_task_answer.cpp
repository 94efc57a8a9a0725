// Reading an answer as it comes: its headers, its body, and what they mean for the sink.
#include "platform/curl_task.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "batch/file_store.h"

namespace zavoket {
namespace {

using State = ConnectionState;

// Enough of a body's beginning to tell it from another file's: the files of a collection begin
// alike (the same encoder's headers), and small ones may be as long as each other, so a whole
// small body, or this much of a larger one, is compared.
constexpr std::uint64_t kSignedBytes = 64 * 1024;

// An error page or a redirect has no use for a larger body: past this the fetch ends, so an
// endless one cannot hold the batch.
constexpr std::uint64_t kMaxOtherBodyBytes = 1 << 20;

bool headerIs(std::string_view line, std::string_view name) {
    return line.size() > name.size() && line[name.size()] == ':' &&
           std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

// The value of a header line, without the blanks around it and the line's end.
std::string headerValue(std::string_view line) {
    line.remove_prefix(line.find(':') + 1);
    const auto first = line.find_first_not_of(" \t");
    return first == std::string_view::npos
               ? std::string()
               : std::string(line.substr(first, line.find_last_not_of(" \t\r\n") + 1 - first));
}

}  // namespace

size_t CurlTask::onHeader(char* data, size_t size, size_t count, void* self) {
    auto* task = static_cast<CurlTask*>(self);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
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
    } else if (headerIs(line, "location")) {
        task->location_ = headerValue(line);
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
    } else if (!task->signed_ && task->repeatsAnAnswer({data, n})) {
        task->stop_ = Stop::OutOfStep;  // its connection goes with it
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

// A box on the way, or the server, that sends an answer twice puts every later answer on that
// connection one request late: an answer that begins as a recent one to another file did, and is
// as long, is that one again. No two files of the collection are alike so far.
// Where the answer came from, redirects followed, without the server's name: one file reached
// by two names is the same file.
std::string CurlTask::answeredPath() const {
    const char* effective = nullptr;
    curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &effective);
    const std::string_view url =
        effective != nullptr ? std::string_view(effective) : std::string_view(url_);
    const auto host = url.find("://");
    const auto path = url.find('/', host == std::string_view::npos ? 0 : host + 3);
    return std::string(path == std::string_view::npos ? url : url.substr(path));
}

bool CurlTask::repeatsAnAnswer(std::span<const char> bytes) {
    signature_.append(bytes.data(),
                      std::min<std::size_t>(bytes.size(), signedLength_ - bodyBytes_));
    if (bodyBytes_ + bytes.size() < signedLength_) {
        return false;
    }
    signed_ = std::hash<std::string>{}(signature_);
    return std::ranges::any_of(context_.recentAnswers, [this](const auto& answer) {
        return answer.second == *signed_ && answer.first != answeredPath();
    });
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
    // The answer to a HEAD has no body; a 200 to a GET begins a whole one.
    const bool whole = status == 200 && !heading_;
    bodyWanted_ = whole || rest;
    redirecting_ = status / 100 == 3;
    received_ = rest ? resumeFrom_ : 0;
    if (whole) {
        validator_ = !etag_.empty() && !etag_.starts_with("W/") ? etag_ : lastModified_;
        bodyBytes_ = 0;
        signature_ = std::to_string(length) + ":";
        signed_.reset();
        signedLength_ = length > 0 ? std::min<std::uint64_t>(length, kSignedBytes) : kSignedBytes;
    }
    // A body that can only be judged whole, and an answer that says the connection idled too
    // long, leave no connection to a later request: if either was not the answer to this one,
    // the answer to this one would come to that request.
    curl_easy_setopt(
        e, CURLOPT_FORBID_REUSE,
        (whole && length < static_cast<curl_off_t>(kStandingHeadBytes)) || status == 408 ? 1L : 0L);
    const auto declared = static_cast<std::uint64_t>(std::max<curl_off_t>(length, 0)) + received_;
    if (declared > context_.options.maxBodyBytes) {
        stop_ = Stop::TooLarge;
    } else if (!bodyWanted_ && !heading_ && declared > kMaxOtherBodyBytes) {
        stop_ = Stop::OtherTooLarge;
    } else if (bodyWanted_ && !sink_.hasRoomFor(declared - received_)) {
        stop_ = Stop::NoRoom;  // ends here, before any of the body is taken
    } else if (whole && !sink_.restart(type != nullptr ? type : "")) {
        stop_ = Stop::SinkFailed;
    }
    return stop_ == Stop::None;
}

}  // namespace zavoket
