#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "batch/file_store.h"
#include "batch/post.h"
#include "batch/worker.h"

namespace zavoket {

// Flushes, names and lets go of received files on a thread of its own, in the order they are
// handed over: the next transfer never waits for the disk, and the batch's thread never
// touches the file system. hand(), takeNamed() and idle() are for the batch's thread.
class FilePipeline {
  public:
    // dealt is posted each time a file has been dealt with.
    FilePipeline(Post post, std::function<void()> dealt)
        : post_(std::move(post)), dealt_(std::move(dealt)) {}

    // Names the file path; an empty path lets it go without a name.
    void hand(std::unique_ptr<IncomingFile> file, std::string path, std::size_t index);

    struct Named {
        std::size_t index;
        bool ok;
    };
    // The files named, or not, since the last call, in the order they were handed over.
    [[nodiscard]] std::vector<Named> takeNamed();

    // Nothing handed over remains to be done.
    [[nodiscard]] bool idle() const;

    // Waits, handling no event, until idle or until deadline; true when idle. Only for the
    // program's ending.
    [[nodiscard]] bool settle(std::chrono::steady_clock::time_point deadline);

  private:
    struct Job {
        std::unique_ptr<IncomingFile> file;
        std::string path;
        std::size_t index;
    };
    void nameNext();

    Post post_;
    std::function<void()> dealt_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;  // the front one is under way
    std::vector<Named> named_;
    Worker worker_;  // last: it deals with every file handed over before the rest goes
};

}  // namespace zavoket
