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
    waiter_.wake();
}

void TaskWaiter::wait() {
    waiter_.wait();
    std::deque<std::function<void()>> tasks;
    {
        std::lock_guard lock(mutex_);
        tasks.swap(tasks_);
    }
    for (auto& task : tasks) {
        task();
    }
}

LocalBatch::LocalBatch(std::string url, std::string folder, ApplicationOptions options)
    : view(url, std::move(folder)), app((options.baseUrl = std::move(url), options), waiter) {
    app.batch().setView(view);
}

}  // namespace zavoket::harness
