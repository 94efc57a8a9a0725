#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "local_server.h"

namespace zavoket::test {

// The local server, able to hold one response while a test acts.
class HeldServer : public harness::LocalServer {
  public:
    using LocalServer::LocalServer;
    ~HeldServer() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        stop();  // before what the server's threads use here goes
    }

    // When path is requested, onHeld runs on a server thread, then the response waits until
    // release() or ten seconds. midBody: it waits once half the body is sent, and the rest
    // never comes.
    void hold(const std::string& path, std::function<void()> onHeld, bool midBody = false) {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        setFault([this, path, onHeld, midBody](const auto& request, auto& response) {
            if (std::lock_guard lock(mutex_); request.path != path || std::exchange(held_, true)) {
                return false;
            }
            if (!midBody) {
                wait(onHeld);
                return false;
            }
            const auto bytes =
                collection().bytes(static_cast<std::size_t>(collection().find(path)));
            response.set_content_provider(bytes.size(), "application/octet-stream",
                                          [this, bytes, onHeld](auto offset, auto, auto& sink) {
                                              if (offset == 0) {
                                                  return sink.write(bytes.data(), bytes.size() / 2);
                                              }
                                              wait(onHeld);
                                              return false;
                                          });
            return true;
        });
    }

    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

  private:
    void wait(const std::function<void()>& onHeld) {
        {
            std::lock_guard lock(mutex_);
            released_ = false;
        }
        onHeld();
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10),
                          [this] { return released_ || stopping_; });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    bool held_ = false;  // the request has come: later ones go through
    bool stopping_ = false;
};

}  // namespace zavoket::test
