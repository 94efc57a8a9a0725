#include "local_batch.h"

namespace zavoket::harness {

void RecordingView::batchStarted() {
    moving = true;
    ending.reset();
    saved = kept = endings = 0;
    causes.clear();
}

void RecordingView::batchEnded(const BatchEnding& e) {
    moving = false;
    ending = e;
    ++endings;
    onEnding ? onEnding() : void();
}

Post TaskQueue::poster() {
    return [this](std::function<void()> task) { post(std::move(task)); };
}

void TaskQueue::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    posted_.notify_one();
}

bool TaskQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [this] { return !tasks_.empty(); })) {
            return false;
        }
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
    }
    return true;
}

LocalBatch::LocalBatch(std::string url, std::string folder, ApplicationOptions options)
    : view(std::move(folder)), app((options.baseUrl = std::move(url), options), queue.poster()) {
    app.batch().setView(view);
}

bool LocalBatch::runToEnd(std::chrono::seconds timeout) {
    view.ending.reset();
    batch.start();
    return queue.runUntil([this] { return view.ending.has_value(); }, timeout);
}

}  // namespace zavoket::harness
