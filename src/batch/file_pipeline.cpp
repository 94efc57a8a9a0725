#include "batch/file_pipeline.h"

#include <utility>

namespace zavoket {

FilePipeline::FilePipeline(Waiter& waiter) : waiter_(waiter), thread_([this] { run(); }) {}

FilePipeline::~FilePipeline() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FilePipeline::hand(std::unique_ptr<IncomingFile> file, std::string path, std::size_t index) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back({std::move(file), std::move(path), index});
    }
    changed_.notify_all();
}

std::vector<FilePipeline::Named> FilePipeline::takeNamed() {
    std::lock_guard lock(mutex_);
    return std::exchange(named_, {});
}

bool FilePipeline::idle() const {
    std::lock_guard lock(mutex_);
    return jobs_.empty();
}

bool FilePipeline::settle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline, [this] { return jobs_.empty(); });
}

void FilePipeline::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !jobs_.empty() || quitting_; });
        if (jobs_.empty()) {
            return;  // quitting, with nothing left to do
        }
        Job& job = jobs_.front();
        lock.unlock();
        const bool keep = !job.path.empty();
        const bool ok = keep && !job.file->commit(job.path);
        job.file.reset();  // closed here too: a close can wait for the disk
        lock.lock();
        if (keep) {
            named_.push_back({job.index, ok});
        }
        jobs_.pop_front();
        lock.unlock();
        changed_.notify_all();
        waiter_.wake();
        lock.lock();
    }
}

}  // namespace zavoket
