#include "support/raw_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zavoket::test {

RawServer::RawServer(Responder responder, const char* where)
    : responder_(std::move(responder)), address_(where) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, where, &address.sin_addr);
    socklen_t length = sizeof(address);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("the raw test server cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

RawServer::~RawServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

std::string RawServer::baseUrl() const {
    return "http://" + address_ + ":" + std::to_string(port_) + "/";
}

bool RawServer::sendAll(int socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void RawServer::sendOk(int socket, const std::string& body) {
    sendAll(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\n\r\n" + body);
}

void RawServer::reset(int socket) {
    linger abortive{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
}

void RawServer::serve() {
    // Polls with a short period so that the destructor never waits long.
    auto readable = [this](int fd) {
        pollfd entry{fd, POLLIN, 0};
        while (!stopping_) {
            if (::poll(&entry, 1, 10) > 0) {
                return true;
            }
        }
        return false;
    };
    while (readable(listener_)) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        std::string received;
        bool open = true;
        while (open && readable(connection)) {
            char buffer[4096];
            const ssize_t n = ::recv(connection, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                break;
            }
            received.append(buffer, static_cast<std::size_t>(n));
            for (auto end = received.find("\r\n\r\n"); open && end != std::string::npos;
                 end = received.find("\r\n\r\n")) {
                const auto first = received.find(' ');
                const auto second = received.find(' ', first + 1);
                const std::string path = received.substr(first + 1, second - first - 1);
                received.erase(0, end + 4);
                ++requests_;
                open = responder_(connection, path);
            }
        }
        ::close(connection);
    }
}

}  // namespace zavoket::test
