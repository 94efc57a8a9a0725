#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "batch/batch_view.h"
#include "batch/file_pipeline.h"
#include "batch/file_store.h"
#include "batch/transfer.h"
#include "batch/waiter.h"
#include "catalogue/catalogue.h"

namespace zavoket {

inline constexpr const char* kActivityFinished = "終了しました";
inline constexpr const char* kActivityAborted = "中止しました";
// The status bar's text when a proxy on the way refused a file or asked for a password.
inline constexpr const char* kProxyRefused =
    "プロキシ サーバーが要求を拒否しました。プロキシの設定を確かめてください。";

// The download batch: fetches every catalogue entry in order and saves it in the folder the
// view names. The view is set once, before the first start(). All members are called on one
// thread; start() runs the whole batch and the other
// members may be called nested inside it, from the events handled while a file is in transfer
// or named. Files are flushed and named on a thread of their own, while the next one is
// fetched; the batch waits for them through the waiter, the same one the transfer waits on.
class BatchRun {
  public:
    BatchRun(const Catalogue& catalogue, Transfer& transfer, FileStore& store, Waiter& waiter);

    void setView(BatchView& view) { view_ = &view; }

    // The start button. Returns when the batch has completed, stopped, or been terminated. A
    // call while a batch is active is ignored.
    void start();

    // The abort button: the active batch stops before its next file.
    void abort();

    // A connection state from the transfer; the error state also stops the batch.
    void onStateChange(std::int16_t state);

    // The program is ending: the active batch takes no further step, not even for the file in
    // transfer. The caller cancels the transfer itself.
    void terminate();

    // After terminate(): waits, handling no event, until the files whose transfer ended have
    // their names, or until deadline; true when they all have been dealt with.
    bool settle(std::chrono::steady_clock::time_point deadline) { return files_.settle(deadline); }

    [[nodiscard]] bool running() const { return running_; }
    [[nodiscard]] std::int16_t abortFlag() const { return abortFlag_; }

  private:
    // A file asked for: where its body goes, behind the check that it can be the file.
    struct Asked {
        std::size_t index;
        std::unique_ptr<IncomingFile> file;
        std::unique_ptr<BodySink> sink;
    };
    [[nodiscard]] Asked ask(std::size_t index);
    void dropNext();
    void downloadOne(std::size_t index);
    // Waits until every file handed over has been dealt with; false when the program is ending.
    [[nodiscard]] bool waitForFiles();
    void takeNamed();
    void finish();

    const Catalogue& catalogue_;
    BatchView* view_ = nullptr;
    Transfer& transfer_;
    FileStore& store_;
    Waiter& waiter_;

    std::int16_t abortFlag_ = 0;  // -1 asks the batch to stop; only -1 counts
    std::int16_t fileCounter_ = 0;
    bool running_ = false;
    bool terminated_ = false;
    std::vector<std::size_t> failed_;  // catalogue indices, named at the end of the batch
    std::deque<Asked> next_;           // asked for behind the file in transfer, in order
    FilePipeline files_;               // last: its thread goes first
};

// "終了しました（失敗 N 件）" and the status-bar list of names, for a batch that could not save
// every file. Exposed for tests.
[[nodiscard]] std::string failedActivityText(std::size_t failures);
[[nodiscard]] std::string failedFilesText(const std::vector<std::string>& names);

}  // namespace zavoket
