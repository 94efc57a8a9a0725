#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "batch/transfer.h"
#include "batch/waiter.h"

namespace zavoket {

struct CurlTransferOptions {
    std::chrono::milliseconds connectTimeout{60'000};
    // A transfer that delivers no byte for this long fails; a slow one that keeps delivering
    // does not. Whole seconds: libcurl counts it so.
    std::chrono::seconds idleTimeout{60};
    std::uint64_t maxBodyBytes = std::uint64_t{1} << 30;
};

// An HTTP(S) transfer on libcurl that keeps one connection alive across fetches.
//
// Threads: construct, fetch() and destroy on one thread, the owner's. The object has one worker
// thread of its own, for its whole life; fetch() hands the transfer to it and meanwhile calls
// the Waiter on the owner's thread, so a window goes on handling events during a fetch. The
// StateListener is called on the owner's thread only, from inside fetch(). cancel() may be called
// from any thread, including from a handler nested inside fetch(); the fetch under way then returns
// Cancelled within about 100 ms.
//
// States reported, as libcurl sees the connection: 1 look-up started, 2 address found,
// 3 connecting, 4 connected (a reused connection skips 1 to 4), 5 sending the request,
// 6 request sent, 7 response coming in, 8 response received, 9 and 10 closing and closed (when
// the connection ends), 12 request completed; 11 for a transport failure.
class CurlTransfer final : public Transfer {
  public:
    explicit CurlTransfer(Waiter& waiter, CurlTransferOptions options = {});
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // A backslash in the URL goes on the wire as "/". Redirects are followed, at most five,
    // http and https only. The proxy is the desktop's, or http_proxy and no_proxy's. Where the
    // sink names a standing copy, the request asks only for a newer body.
    // The sink is called on the worker thread; its complete() runs there too, before fetch
    // reports the file received.
    [[nodiscard]] FetchResult fetch(const std::string& url, const StateListener& onState,
                                    BodySink& sink) override;

    // Requests for the files asked for leave in order, on a second connection, while fewer than
    // two are under way, so the link never idles between files; the next fetch() of the first
    // one's sink takes it over where it stands. Bodies go to their own sinks, never to memory.
    void prefetch(const std::string& url, BodySink& sink) override;
    void dropPrefetch() override;

    void cancel();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zavoket
