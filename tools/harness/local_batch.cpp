#include "local_batch.h"

namespace zavoket::harness {

void RecordingView::setLabel2Caption(const std::string& text) {
    label2 = text;
    if (onLabel2) {
        onLabel2(text);
    }
}

void TaskWaiter::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    changed_.notify_one();
}

void TaskWaiter::wait() {
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

void TaskWaiter::wake() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_one();
}

LocalBatch::LocalBatch(std::string url, std::string folder, ApplicationOptions options)
    : view(url, std::move(folder)), app((options.baseUrl = std::move(url), options), waiter) {
    app.batch().setView(view);
}

}  // namespace zavoket::harness
