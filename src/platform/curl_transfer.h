#pragma once

#include <memory>

#include "batch/post.h"
#include "batch/transfer.h"
#include "platform/curl_options.h"

namespace zavoket {

// An HTTP(S) transfer on libcurl that keeps its connections alive across requests.
//
// Threads: the object has one thread of its own for its whole life, which drives libcurl and
// calls the sinks; every member returns at once. What happens to each request is posted to the
// owner's thread, where its events are told. Requests leave in order, on at most four
// connections, each once the request before it has gone, so the link never idles between files.
//
// States told, as libcurl sees the connection: 1 look-up started, 2 address found,
// 3 connecting, 4 connected (a reused connection skips 1 to 4), 5 sending the request,
// 6 request sent, 7 response coming in, 8 response received, 9 and 10 closing and closed (when
// the connection ends), 12 request completed; 11 for a transport failure.
//
// A backslash in a URL goes on the wire as "/". Redirects are followed, at most five, http and
// https only. The proxy is the desktop's, or http_proxy and no_proxy's. Where the sink names a
// standing copy, the request asks only for a newer body.
class CurlTransfer final : public Transfer {
  public:
    explicit CurlTransfer(Post post, CurlTransferOptions options = {});
    // Ends every request still under way, without telling it, and waits for the thread.
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    void request(RequestId id, const std::string& url, BodySink& sink,
                 TransferEvents& events) override;
    void drop(RequestId id) override;
    void cancel() override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zavoket
