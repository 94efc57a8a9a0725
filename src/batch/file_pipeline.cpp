#include "batch/file_pipeline.h"

#include <utility>

namespace zavoket {

void FilePipeline::hand(std::unique_ptr<IncomingFile> file, std::string path, std::size_t index) {
    if (!path.empty()) {
        file->toBeNamed();
    }
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back({std::move(file), std::move(path), index});
    }
    worker_.post([this] { nameNext(); });
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

// On the worker: one task per file handed over, so the front job is this task's. The job stays
// where it is while the disk is busy: more may join the queue behind it, and a reference to a
// deque's front survives that.
void FilePipeline::nameNext() {
    Job* job = nullptr;
    {
        std::lock_guard lock(mutex_);
        job = &jobs_.front();
    }
    const bool keep = !job->path.empty();
    const bool ok = keep && !job->file->commit(job->path);
    job->file.reset();  // closed here too: a close can wait for the disk
    {
        std::lock_guard lock(mutex_);
        if (keep) {
            named_.push_back({job->index, ok});
        }
        jobs_.pop_front();
    }
    changed_.notify_all();
    post_(dealt_);
}

}  // namespace zavoket
