#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/transfer.h"
#include "platform/curl_options.h"

namespace zavoket {

struct CurlEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

class CurlTask;

// What outlives each request: the multi handle (the connection cache lives there), the way what
// happens reaches the owner's thread, and which task opened each connection still open. The
// transfer is one. Everything here but post() and cancelled is for the worker's thread.
struct CurlTaskContext {
    virtual ~CurlTaskContext() = default;
    // Runs told on the owner's thread, in order.
    virtual void post(std::function<void()> told) = 0;
    // The proxy for url as the desktop's settings have it: "" for none.
    [[nodiscard]] virtual std::string proxyFor(const std::string& url) = 0;

    CurlTransferOptions options;
    std::atomic<bool> cancelled{false};
    // A connection can close after the task that opened it has gone, with the cache: even as
    // the multi handle goes, which is why this is made first.
    std::map<curl_socket_t, CurlTask*> sockets;
    std::unique_ptr<CURLM, CurlMultiDeleter> multi;
};

// One request: its own easy handle, its URL, its sink, the flags its libcurl callbacks set, and
// its result. A task is made afresh for every request, so nothing of one carries over into the
// next. It lives on the transfer's worker thread and tells its events through the context.
class CurlTask {
  public:
    CurlTask(CurlTaskContext& context, RequestId id, std::string url, BodySink& sink,
             TransferEvents& events);
    // Takes its handle out of the multi handle: its sink hears nothing more.
    ~CurlTask();
    CurlTask(const CurlTask&) = delete;
    CurlTask& operator=(const CurlTask&) = delete;

    // Asks the sink, sets the request up and adds it to the multi handle; where nothing is to
    // be asked, the task is done at once.
    void begin();
    // The multi handle says the transfer has ended.
    void finish(CURLcode code);
    // Ends it there and then, as dropped or cancelled: its sink hears nothing more.
    void abandon();
    // Tells its end to the owner: once, after finish() or abandon().
    void tellEnd();

    [[nodiscard]] bool done() const { return done_; }
    // Its request has gone out, or it has ended without one.
    [[nodiscard]] bool asked() const { return requestSent_ || done_; }
    [[nodiscard]] CURL* easy() const { return easy_.get(); }
    [[nodiscard]] RequestId id() const { return id_; }

  private:
    enum class Stop { None, TooLarge, OtherTooLarge, SinkFailed, NoRoom };

    void configure();
    FetchResult outcome(CURLcode code);
    FetchOutcome completed(long status);
    FetchOutcome failed(CURLcode code, FetchResult& result);
    bool endOfHeaders();
    [[nodiscard]] bool bodyAfterHead();
    [[nodiscard]] std::optional<std::int64_t> servedModified();
    void post(ConnectionState state);
    void flushHeldClose();

    static curl_socket_t onOpenSocket(void* self, curlsocktype, curl_sockaddr* address);
    static int onCloseSocket(void* context, curl_socket_t socket);
    static int onResolverStart(void*, void*, void* self);
    static int onPrereq(void* self, char*, char*, int, int);
    static int onDebug(CURL*, curl_infotype type, char*, size_t, void* self);
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static int onProgress(void* self, curl_off_t, curl_off_t now, curl_off_t, curl_off_t);

    CurlTaskContext& context_;
    RequestId id_;
    TransferEvents& events_;
    std::unique_ptr<CURL, CurlEasyDeleter> easy_;
    std::string url_;  // as it goes on the wire
    BodySink& sink_;
    bool added_ = false;  // to the multi handle
    bool done_ = false;
    bool resolveReported_ = false;
    bool socketOpened_ = false;
    bool requestSent_ = false;
    bool responseStarted_ = false;
    bool bodyWanted_ = false;   // the response coming in is a 200: its body goes to the sink
    bool redirecting_ = false;  // the response coming in is a redirect
    Stop stop_ = Stop::None;
    std::uint64_t received_ = 0;
    std::vector<ConnectionState> heldClose_;  // close states seen while the response came in
    bool heading_ = false;     // a copy stands: the server is asked what it holds first (HEAD)
    bool copyStands_ = false;  // its answer says the copy stands
    BodyPlan plan_;
    bool proxied_ = false;
    char errorText_[CURL_ERROR_SIZE] = {};
    FetchResult result_;
};

}  // namespace zavoket
