#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "local_server.h"

namespace zavoket::test {

// The local server, able to hold one response while a test acts.
class HeldServer : public harness::LocalServer {
  public:
    using LocalServer::LocalServer;
    ~HeldServer() {
        stopping_ = released_ = true;
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
                released_ = stopping_.load();
                onHeld();
                for (int i = 0; i < 10000 && !released_; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
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

    void release() { released_ = true; }

  private:
    std::atomic<bool> released_ = false;
    std::atomic<bool> stopping_ = false;
};

}  // namespace zavoket::test
