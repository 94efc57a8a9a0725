#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace zavoket::test {

// A bare HTTP/1.1 server on 127.0.0.1 for faults a library server cannot make, such as a
// connection reset in the middle of a body. It serves one connection at a time; the responder
// answers each request on the socket and returns false to end the connection.
class RawServer {
  public:
    using Responder = std::function<bool(int socket, const std::string& path)>;

    // address: a loopback address such as 127.0.0.2, to stand for another host.
    explicit RawServer(Responder responder, const char* address = "127.0.0.1");
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    [[nodiscard]] std::string baseUrl() const;
    [[nodiscard]] std::size_t requestCount() const { return requests_; }

    // False when the client went away first.
    static bool sendAll(int socket, const std::string& bytes);
    // Sends a complete 200 response.
    static void sendOk(int socket, const std::string& body);
    // Drops the connection with a reset instead of an orderly close.
    static void reset(int socket);

  private:
    void serve();

    Responder responder_;
    int listener_ = -1;
    std::string address_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> requests_{0};
    std::thread thread_;
};

}  // namespace zavoket::test
