// How a request treats a copy that stands: the server is asked what it holds first, and the
// body comes only where the copy is not its file.
#include <ctime>

#include "platform/curl_task.h"

namespace zavoket {

// The HEAD is answered: the copy stands, the body would not fit, or the body is asked for on
// the same handle, and so on the same connection. True: the request goes on.
bool CurlTask::bodyAfterHead() {
    CURL* easy = easy_.get();
    heading_ = false;
    long status = 0;
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    const auto served =
        length >= 0 ? std::optional(static_cast<std::uint64_t>(length)) : std::nullopt;
    copyStands_ = status == 200 && copyStands(plan_, served, servedModified());
    if (status == 200 && served && !sink_.hasRoomFor(*served)) {
        stop_ = Stop::NoRoom;
    }
    if (copyStands_ || stop_ != Stop::None) {
        return false;
    }
    curl_multi_remove_handle(context_.multi.get(), easy);
    curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    added_ = curl_multi_add_handle(context_.multi.get(), easy) == CURLM_OK;
    return added_;
}

// The server's Last-Modified, where it can be one: not later than the answer's Date (or than
// now, without one); an unreadable one is none. libcurl tells either as -1 where it has none.
std::optional<std::int64_t> CurlTask::servedModified() {
    curl_off_t modified = -1;
    curl_easy_getinfo(easy_.get(), CURLINFO_FILETIME_T, &modified);
    curl_header* date = nullptr;
    const time_t sent =
        curl_easy_header(easy_.get(), "Date", 0, CURLH_HEADER, -1, &date) == CURLHE_OK
            ? curl_getdate(date->value, nullptr)
            : -1;
    const time_t latest = sent != -1 ? sent : std::time(nullptr);
    return modified != -1 && modified <= latest ? std::optional<std::int64_t>(modified)
                                                : std::nullopt;
}

}  // namespace zavoket
