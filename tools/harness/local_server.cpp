#include "local_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>

#include "sample_server.h"

namespace zavoket::harness {

LocalServer::LocalServer(const sample::Collection& collection) : collection_(collection) {
    sample::serveCollection(server_, collection, {});
    server_.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            Fault fault;
            {
                std::lock_guard lock(mutex_);
                // A HEAD moves no body: the paths are those of the bodies asked for.
                request.method == "HEAD" ? ++heads_ : (paths_.push_back(request.path), 0);
                ports_.insert(request.remote_port);
                fault = fault_;
            }
            return fault && fault(request, response) ? httplib::Server::HandlerResponse::Handled
                                                     : httplib::Server::HandlerResponse::Unhandled;
        });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("the local server cannot listen");
    }
    thread_ = std::thread([this] {
        server_.listen_after_bind();
        ended_ = true;
    });
    // A stop() that comes before the server loop has started is lost, and the join in the
    // destructor would then wait for ever.
    while (!server_.is_running() && !ended_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (ended_) {
        thread_.join();
        throw std::runtime_error("the local server stopped at once");
    }
}

void LocalServer::stop() {
    server_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::string LocalServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

void LocalServer::setFault(Fault fault) {
    std::lock_guard lock(mutex_);
    fault_ = std::move(fault);
}

std::vector<std::string> LocalServer::paths() const {
    std::lock_guard lock(mutex_);
    return paths_;
}

bool LocalServer::requested(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return std::find(paths_.begin(), paths_.end(), path) != paths_.end();
}

std::size_t LocalServer::connectionCount() const {
    std::lock_guard lock(mutex_);
    return ports_.size();
}

}  // namespace zavoket::harness
