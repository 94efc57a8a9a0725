#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
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
struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
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
    // The URLs and signatures (length and first bytes) of the last whole answers: an answer
    // sent twice may wait on an idle connection until its next use.
    std::deque<std::pair<std::string, std::size_t>> recentAnswers;
    std::unique_ptr<CURLM, CurlMultiDeleter> multi;
};

// One request: its own easy handle, its URL, its sink, the flags its libcurl callbacks set, and
// its result. A task is made afresh for every request, so nothing of one carries over into the
// next. It lives on the transfer's worker thread and tells its events through the context.
class CurlTask {
  public:
    CurlTask(CurlTaskContext& context, RequestId id, std::string url, BodySink& sink,
             TransferEvents& events);
    // Its handle leaves the multi handle: its sink hears nothing more.
    ~CurlTask();
    CurlTask(const CurlTask&) = delete;
    CurlTask& operator=(const CurlTask&) = delete;

    // Asks the sink, sets the request up and adds it to the multi handle; where nothing is to
    // be asked, the task is done at once.
    void begin();
    // The multi handle says the attempt has ended, for good.
    void finish(CURLcode code);
    struct Retry {
        std::chrono::milliseconds delay;
        // The server only said it has too much to do, or shut a connection of ours while another
        // was open.
        bool busy;
    };
    // Before finish(): how long to wait before another attempt, where one is worth it (the link
    // or the server failed for a while).
    [[nodiscard]] std::optional<Retry> retryDelay(CURLcode code, bool othersOpen) const;
    // Out of the multi handle until begin() again, which asks for the rest of the body the sink
    // holds where the answer allows it, or for all of it. counted: it is one of the file's tries,
    // which a busy server's answer, while connections can still be given up, is not.
    void prepareRetry(bool counted);
    [[nodiscard]] int tries() const { return tries_; }
    // Ends it there and then, as dropped or cancelled: its sink hears nothing more.
    void abandon();
    // Tells its end to the owner: once, after finish() or abandon().
    void tellEnd();

    [[nodiscard]] bool done() const { return done_; }
    // Its request has gone out, or it has ended without one, or waits to be tried again.
    [[nodiscard]] bool asked() const { return requestSent_ || done_ || !added_; }
    [[nodiscard]] bool underWay() const { return added_ && !done_; }
    [[nodiscard]] CURL* easy() const { return easy_.get(); }
    [[nodiscard]] RequestId id() const { return id_; }
    [[nodiscard]] TransferEvents& events() const { return events_; }

  private:
    enum class Stop { None, TooLarge, OtherTooLarge, SinkFailed, OutOfStep, NoRoom };

    void configure();
    FetchResult outcome(CURLcode code);
    FetchOutcome completed(long status);
    FetchOutcome failed(CURLcode code, FetchResult& result);
    bool endOfHeaders();
    void askForTheRest();

    [[nodiscard]] bool repeatsAnAnswer(std::span<const char> first);
    [[nodiscard]] std::string answeredPath() const;
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
    bool https_ = false;
    // What a later attempt needs to go on where this one was cut: the validator of the body the
    // sink holds (its ETag or Last-Modified) and how much of it the sink holds.
    std::string etag_;          // of the answer coming in
    std::string lastModified_;  // of the answer coming in
    std::string contentRange_;  // of the answer coming in
    std::string location_;      // where the last redirect sent the request
    std::string validator_;
    std::uint64_t bodyBytes_ = 0;
    std::uint64_t resumeFrom_ = 0;  // the attempt under way asks for the rest from here
    std::string range_;
    std::unique_ptr<curl_slist, CurlListDeleter> ifRange_;
    int tries_ = 0;
    std::string signature_;           // of its body: its length and first bytes, until signed
    std::uint64_t signedLength_ = 0;  // of those first bytes
    std::optional<std::size_t> signed_;
    char errorText_[CURL_ERROR_SIZE] = {};
    FetchResult result_;
    // Last, so it goes first, while all it points to (the header list, the error buffer) is
    // still there.
    std::unique_ptr<CURL, CurlEasyDeleter> easy_;
};

}  // namespace zavoket
