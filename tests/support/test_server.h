#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "collection.h"

namespace zavoket::test {

// An HTTP server on 127.0.0.1 in the test's own process, serving a sample collection, with
// hooks to hold a response and to answer some requests with a fault instead.
class TestServer {
  public:
    struct Request {
        std::string path;
        int remotePort = 0;
    };
    // Answers the request itself (and returns true) or leaves it to the collection.
    using Fault = std::function<bool(const httplib::Request&, httplib::Response&)>;

    explicit TestServer(const sample::Collection& collection);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    [[nodiscard]] std::string baseUrl() const;
    [[nodiscard]] int port() const { return port_; }

    void setFault(Fault fault);

    // When a request for path arrives, onHeld runs (on a server thread) and the response waits
    // until release() or ten seconds, whichever comes first.
    void holdAt(const std::string& path, std::function<void()> onHeld);
    // The same once half the body of path has been sent; the rest never comes.
    void holdMidBody(const std::string& path, std::function<void()> onHeld);
    void release();

    [[nodiscard]] std::vector<Request> requests() const;
    [[nodiscard]] bool requested(const std::string& path) const;
    [[nodiscard]] std::size_t connectionCount() const;

    // Blocks a server thread for at most limit, or until the server goes away.
    void stall(std::chrono::milliseconds limit);

  private:
    const sample::Collection& collection_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::vector<Request> requests_;
    Fault fault_;
    std::string holdPath_;
    std::function<void()> onHeld_;
    bool holding_ = false;
    bool stopping_ = false;
};

}  // namespace zavoket::test
