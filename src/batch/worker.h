#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace zavoket {

// A thread of its own that runs the tasks posted to it one after another, in order. The
// transfer, the file pipeline and the file list's reader each keep one, so that the disk and
// the network are only ever waited for there.
class Worker {
  public:
    Worker();
    // Runs what was posted before it returns.
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // From any thread.
    void post(std::function<void()> task);

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once the rest is in place
};

}  // namespace zavoket
