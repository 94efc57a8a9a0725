#pragma once

#include <condition_variable>
#include <mutex>

namespace zavoket {

// How a thread that waits for a transfer spends the wait. A window keeps handling its events;
// a test or a benchmark just sleeps.
class Waiter {
  public:
    virtual ~Waiter() = default;

    // On the waiting thread: returns after wake(), or earlier; callers check what they wait for.
    virtual void wait() = 0;

    // From any thread. A wake that comes before wait() makes the next wait() return at once.
    virtual void wake() = 0;
};

// Waits on a condition variable, handling nothing meanwhile.
class BlockingWaiter final : public Waiter {
  public:
    void wait() override {
        std::unique_lock lock(mutex_);
        woken_.wait(lock, [this] { return signalled_; });
        signalled_ = false;
    }

    void wake() override {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        woken_.notify_one();
    }

  private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool signalled_ = false;
};

}  // namespace zavoket
