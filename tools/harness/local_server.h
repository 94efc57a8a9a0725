#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "collection.h"

namespace zavoket::harness {

// A sample collection served over HTTP on 127.0.0.1 in this process, for the benchmark and the
// tests. It keeps the path and the client port of every request, and can answer some requests
// itself instead of the collection.
class LocalServer {
  public:
    // Answers the request itself (and returns true) or leaves it to the collection.
    using Fault = std::function<bool(const httplib::Request&, httplib::Response&)>;

    // Returns once the server listens.
    explicit LocalServer(const sample::Collection& collection);
    ~LocalServer() { stop(); }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    [[nodiscard]] std::string baseUrl() const;
    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] const sample::Collection& collection() const { return collection_; }

    void setFault(Fault fault);
    // Closes every connection and waits for the server's threads.
    void stop();

    [[nodiscard]] std::vector<std::string> paths() const;
    [[nodiscard]] bool requested(const std::string& path) const;
    [[nodiscard]] std::size_t connectionCount() const;
    [[nodiscard]] std::size_t headCount() const { return heads_; }

  private:
    const sample::Collection& collection_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<bool> ended_{false};

    mutable std::mutex mutex_;
    std::vector<std::string> paths_;  // of every request but a HEAD, in order
    std::atomic<std::size_t> heads_{0};
    std::set<int> ports_;  // the clients' ports: one per connection
    Fault fault_;
};

}  // namespace zavoket::harness
