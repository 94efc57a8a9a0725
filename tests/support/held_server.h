#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
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
            stopping_ = released_ = true;
        }
        changed_.notify_all();
        stop();  // before what the server's threads use here goes
    }

    // When path is first requested, onHeld runs on a server thread, then the response waits
    // until release() or ten seconds. midBody: it waits once half the body is sent, and the
    // rest never comes.
    void hold(const std::string& path, std::function<void()> onHeld, bool midBody = false) {
        auto held = std::make_shared<std::atomic<bool>>(false);
        setFault([=, this](const auto& request, auto& response) {
            if (request.path != path || held->exchange(true)) {
                return false;
            }
            const auto bytes =
                collection().bytes(static_cast<std::size_t>(collection().find(path)));
            auto wait = [this, onHeld] {
                {
                    std::lock_guard lock(mutex_);
                    released_ = stopping_;
                }
                onHeld();
                std::unique_lock lock(mutex_);
                changed_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
            };
            midBody ? response.set_content_provider(
                          bytes.size(), "application/octet-stream",
                          [=](auto offset, auto, auto& sink) {
                              return offset == 0 ? sink.write(bytes.data(), bytes.size() / 2)
                                                 : (wait(), false);
                          })
                    : wait();
            return midBody;
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
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    bool stopping_ = false;
};

}  // namespace zavoket::test
