#include "local_batch.h"

namespace zavoket::harness {

void RecordingView::setLabel2Caption(const std::string& text) {
    label2 = text;
    if (onLabel2) {
        onLabel2(text);
    }
}

void RecordingView::setLabel3Caption(const std::string& text) {
    label3 = text;
    label3History.push_back(text);
}

void RecordingView::setSbText(const std::string& text) {
    sb = text;
    sbHistory.push_back(text);
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

namespace {

Catalogue filled() {
    Catalogue catalogue;
    catalogue.fill();
    return catalogue;
}

}  // namespace

LocalBatch::LocalBatch(std::string url, std::string folder, LocalBatchOptions options)
    : catalogue(filled()),
      view(std::move(url), std::move(folder)),
      transfer(waiter, options.transfer),
      files(options.files),
      batch(catalogue, view, transfer, options.store != nullptr ? *options.store : files, waiter) {}

}  // namespace zavoket::harness
