#include "batch/worker.h"

#include <utility>

namespace zavoket {

Worker::Worker() : thread_([this] { run(); }) {}

Worker::~Worker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    posted_.notify_one();
    thread_.join();
}

void Worker::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    posted_.notify_one();
}

void Worker::run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            posted_.wait(lock, [this] { return !tasks_.empty() || stopping_; });
            if (tasks_.empty()) {
                return;  // stopping, with nothing left to do
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace zavoket
