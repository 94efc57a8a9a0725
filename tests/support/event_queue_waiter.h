#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "batch/waiter.h"

namespace zavoket::test {

// A waiter that also runs tasks posted from other threads, on the waiting thread: a window's
// event loop in miniature, so that a test can "click" while a file is in transfer.
class EventQueueWaiter final : public Waiter {
  public:
    void post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        changed_.notify_one();
    }

    void wait() override {
        std::deque<std::function<void()>> tasks;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return signalled_ || !tasks_.empty(); });
            signalled_ = false;
            tasks.swap(tasks_);
        }
        for (auto& task : tasks) {
            task();
        }
    }

    void wake() override {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        changed_.notify_one();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool signalled_ = false;
};

}  // namespace zavoket::test
