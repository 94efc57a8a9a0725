// How a request's easy handle is set up, and the connection states its hooks show.
#include "platform/curl_task.h"

#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace zavoket {

using State = ConnectionState;

void CurlTask::configure() {
    CURL* e = easy_.get();
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Zavoket/1.0");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    // A file asked for over https never comes over plain http.
    https_ = url_.starts_with("https://");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, https_ ? "https" : "http,https");
    // Over HTTP/2, which only https brings here, a request waits for the connection there is,
    // to go as a stream of it.
    curl_easy_setopt(e, CURLOPT_PIPEWAIT, https_ ? 1L : 0L);
    if (!context_.options.authority.empty()) {
        curl_easy_setopt(e, CURLOPT_CAINFO, context_.options.authority.c_str());
    }
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(context_.options.connectTimeout.count()));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(context_.options.idleTimeout.count()));
    // Asks for the file as it is; a server that encodes it all the same has it decoded here,
    // and one whose encoding cannot be decoded fails the fetch, so nothing encoded is saved.
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "identity");
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(context_.options.maxBodyBytes));
    curl_easy_setopt(e, CURLOPT_FILETIME, 1L);  // the server's Last-Modified, for the next batch
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &onOpenSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &onCloseSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, &context_);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(e, CURLOPT_RESOLVER_START_FUNCTION, &onResolverStart);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &onPrereq);
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &onDebug);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);  // for the debug hook
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText_);
    for (CURLoption data : {CURLOPT_OPENSOCKETDATA, CURLOPT_WRITEDATA, CURLOPT_HEADERDATA,
                            CURLOPT_RESOLVER_START_DATA, CURLOPT_PREREQDATA, CURLOPT_DEBUGDATA,
                            CURLOPT_XFERINFODATA}) {
        curl_easy_setopt(e, data, this);
    }
}

void CurlTask::post(State state) {
    context_.post([&events = events_, id = id_, state] { events.requestState(id, state); });
}

curl_socket_t CurlTask::onOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
    auto* task = static_cast<CurlTask*>(self);
    // An address given as digits needs no look-up, and libcurl skips the resolver then; the
    // address is known all the same.
    if (!std::exchange(task->resolveReported_, false)) {
        task->post(State::Resolving);
    }
    task->post(State::Resolved);
    task->post(State::Connecting);
    task->socketOpened_ = true;
    const curl_socket_t socket =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    task->context_.sockets[socket] = task;
    return socket;
}

// A connection may close between fetches, when the cache drops it: the task that opened it is
// told, if it is still there. One that ends with its response is reported after the response.
int CurlTask::onCloseSocket(void* context, curl_socket_t socket) {
    auto& sockets = static_cast<CurlTaskContext*>(context)->sockets;
    const auto owner = sockets.find(socket);
    CurlTask* task = owner != sockets.end() ? owner->second : nullptr;
    if (owner != sockets.end()) {
        sockets.erase(owner);
    }
    const auto report = [task](State state) {
        if (task != nullptr && task->responseStarted_) {
            task->heldClose_.push_back(state);
        } else if (task != nullptr) {
            task->post(state);
        }
    };
    report(State::Closing);
    const int result = ::close(socket);
    report(State::Closed);
    return result;
}

void CurlTask::flushHeldClose() {
    for (State state : std::exchange(heldClose_, {})) {
        post(state);
    }
}

int CurlTask::onResolverStart(void*, void*, void* self) {
    auto* task = static_cast<CurlTask*>(self);
    task->resolveReported_ = true;
    task->post(State::Resolving);
    return 0;
}

int CurlTask::onPrereq(void* self, char*, char*, int, int) {
    auto* task = static_cast<CurlTask*>(self);
    if (std::exchange(task->socketOpened_, false)) {
        task->post(State::Connected);
    }
    task->responseStarted_ = false;
    task->post(State::Requesting);
    return CURL_PREREQFUNC_OK;
}

// The debug hook is the one place libcurl tells that the request has gone out.
int CurlTask::onDebug(CURL*, curl_infotype type, char*, size_t, void* self) {
    if (type == CURLINFO_HEADER_OUT) {
        static_cast<CurlTask*>(self)->requestSent_ = true;
        static_cast<CurlTask*>(self)->post(State::RequestSent);
    }
    return 0;
}

}  // namespace zavoket
