#include "support/test_server.h"

#include <stdexcept>

#include "sample_server.h"

namespace zavoket::test {

TestServer::TestServer(const sample::Collection& collection) : collection_(collection) {
    sample::serveCollection(server_, collection, {});
    server_.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            Fault fault;
            std::function<void()> onHeld;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back({request.path, request.remote_port});
                fault = fault_;
                if (!holdPath_.empty() && request.path == holdPath_) {
                    onHeld = std::move(onHeld_);
                    holdPath_.clear();
                    holding_ = true;
                }
            }
            if (onHeld) {
                onHeld();
                std::unique_lock lock(mutex_);
                released_.wait_for(lock, std::chrono::seconds(10),
                                   [this] { return !holding_ || stopping_; });
                holding_ = false;
            }
            if (fault && fault(request, response)) {
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("the test server cannot listen");
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
}

TestServer::~TestServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    released_.notify_all();
    server_.stop();
    thread_.join();
}

std::string TestServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

void TestServer::setFault(Fault fault) {
    std::lock_guard lock(mutex_);
    fault_ = std::move(fault);
}

void TestServer::holdAt(const std::string& path, std::function<void()> onHeld) {
    std::lock_guard lock(mutex_);
    holdPath_ = path;
    onHeld_ = std::move(onHeld);
}

void TestServer::holdMidBody(const std::string& path, std::function<void()> onHeld) {
    setFault([this, path, onHeld = std::move(onHeld)](const httplib::Request& request,
                                                      httplib::Response& response) {
        const long index = collection_.find(request.path);
        if (request.path != path || index < 0) {
            return false;
        }
        const auto bytes = collection_.bytes(static_cast<std::size_t>(index));
        response.set_content_provider(
            bytes.size(), "application/octet-stream",
            [this, bytes, onHeld](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset > 0) {
                    {
                        std::lock_guard lock(mutex_);
                        holding_ = true;
                    }
                    onHeld();
                    std::unique_lock lock(mutex_);
                    released_.wait_for(lock, std::chrono::seconds(10),
                                       [this] { return !holding_ || stopping_; });
                    return false;
                }
                sink.write(bytes.data(), bytes.size() / 2);
                return true;
            });
        return true;
    });
}

void TestServer::release() {
    {
        std::lock_guard lock(mutex_);
        holding_ = false;
    }
    released_.notify_all();
}

std::vector<TestServer::Request> TestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool TestServer::requested(const std::string& path) const {
    std::lock_guard lock(mutex_);
    for (const auto& request : requests_) {
        if (request.path == path) {
            return true;
        }
    }
    return false;
}

std::size_t TestServer::connectionCount() const {
    std::lock_guard lock(mutex_);
    std::set<int> ports;
    for (const auto& request : requests_) {
        ports.insert(request.remotePort);
    }
    return ports.size();
}

void TestServer::stall(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, limit, [this] { return stopping_; });
}

}  // namespace zavoket::test
