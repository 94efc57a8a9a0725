#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "batch/transfer.h"
#include "platform/curl_transfer.h"

namespace zavoket {

struct CurlEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

class CurlTask;

// What outlives each fetch: libcurl's handles (the connection cache lives in the multi handle)
// and the way states reach the owner's thread. The transfer is one.
struct CurlTaskContext {
    virtual ~CurlTaskContext() = default;
    // From the worker's thread.
    virtual void post(ConnectionState state) = 0;
    // The proxy for url as the desktop's settings have it: "" for none.
    [[nodiscard]] virtual std::string proxyFor(const std::string& url) = 0;

    // Sets what every fetch on easy shares: limits, protocols and the hooks, which a task points
    // at itself.
    void configure();

    CurlTransferOptions options;
    std::unique_ptr<CURLM, CurlMultiDeleter> multi;
    std::unique_ptr<CURL, CurlEasyDeleter> easy;
    std::atomic<bool> cancelled{false};
    CurlTask* current = nullptr;  // worker's thread only: the fetch under way
};

// One fetch: its URL, its sink, the flags its libcurl callbacks set, and its result. A task is
// made afresh for every fetch and runs on the transfer's worker thread, so nothing of one fetch
// carries over into the next.
class CurlTask {
  public:
    CurlTask(CurlTaskContext& context, std::string url, BodySink& sink);

    // On the worker's thread: runs the fetch to its end.
    [[nodiscard]] FetchResult run();

    // A connection opens or closes: the context's hooks tell the task under way.
    void onSocketOpened();
    void onSocketClosing(ConnectionState state);

  private:
    enum class Stop { None, TooLarge, OtherTooLarge, SinkFailed };
    friend struct CurlTaskContext;

    FetchResult outcome(CURLcode code);
    bool endOfHeaders();
    void post(ConnectionState state) { context_.post(state); }
    void flushHeldClose();

    static int onResolverStart(void*, void*, void* self);
    static int onPrereq(void* self, char*, char*, int, int);
    static int onDebug(CURL*, curl_infotype type, char*, size_t, void* self);
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static int onProgress(void* self, curl_off_t, curl_off_t now, curl_off_t, curl_off_t);

    CurlTaskContext& context_;
    std::string url_;  // as it goes on the wire
    BodySink& sink_;
    bool resolveReported_ = false;
    bool socketOpened_ = false;
    bool responseStarted_ = false;
    bool bodyWanted_ = false;   // the response coming in is a 200: its body goes to the sink
    bool redirecting_ = false;  // the response coming in is a redirect
    Stop stop_ = Stop::None;
    std::uint64_t received_ = 0;
    std::vector<ConnectionState> heldClose_;  // close states seen while the response came in
    bool conditional_ = false;                // the request asks only for a newer body
    bool proxied_ = false;
    char errorText_[CURL_ERROR_SIZE] = {};
};

}  // namespace zavoket
