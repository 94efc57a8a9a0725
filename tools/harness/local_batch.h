#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "app/application.h"

namespace zavoket::harness {

// What a batch told its view, as the window would keep it.
class RecordingView final : public BatchView {
  public:
    explicit RecordingView(std::string folder) : folder(std::move(folder)) {}

    void batchStarted() override;
    void fileStarted(std::size_t index, std::size_t n) override { current = index, number = n; }
    void connectionChanged(ConnectionState s) override {
        state = s;
        completions += s == ConnectionState::Completed;
    }
    void fileRetrying(std::chrono::milliseconds, int) override {
        ++retries, onRetry ? onRetry() : void();
    }
    void stopAsked() override { stopNoted = true; }
    void fileSaved(std::size_t) override { ++saved; }
    void fileKept(std::size_t) override { ++kept; }
    void fileFailed(std::size_t, FailureCause cause) override { causes.push_back(cause); }
    void batchEnded(const BatchEnding& e) override;
    [[nodiscard]] std::string destination() const override { return folder; }

    std::string folder;
    bool moving = false;  // the disk and its clock
    std::size_t current = 0;
    std::size_t number = 0;  // of the file in transfer: "N/194"
    std::optional<ConnectionState> state;
    bool stopNoted = false;
    int retries = 0;      // of files in transfer, in all batches
    int completions = 0;  // requests shown completed, in all batches
    int saved = 0;        // these three of the batch under way, or of the last
    int kept = 0;
    std::vector<FailureCause> causes;  // of each file that failed, in the order they failed
    std::optional<BatchEnding> ending;
    int endings = 0;  // of the batch under way, or of the last: one
    std::function<void()> onEnding;
    std::function<void()> onRetry;
};

// The owner's thread of a test or a benchmark: tasks posted from any thread run when it drains
// the queue, as a window's event loop would run them.
class TaskQueue {
  public:
    [[nodiscard]] Post poster();
    void post(std::function<void()> task);
    // Runs tasks as they come until done() holds, or until timeout; false on the time-out.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
};

// The program's services with a recording view, from a server's URL into a folder.
struct LocalBatch {
    LocalBatch(std::string url, std::string folder, ApplicationOptions options = {});

    // Starts a batch and runs it to its ending; false when it has not ended in time.
    bool runToEnd(std::chrono::seconds timeout = std::chrono::seconds(120));

    TaskQueue queue;  // first: it outlives what posts to it
    RecordingView view;
    Application app;
    BatchRun& batch = app.batch();
};

}  // namespace zavoket::harness
