#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "batch/batch_view.h"
#include "batch/file_store.h"
#include "batch/transfer.h"
#include "catalogue/catalogue.h"

namespace zavoket {

inline constexpr const char* kActivityFinished = "終了しました";
inline constexpr const char* kActivityAborted = "中止しました";

// The download batch: fetches every catalogue entry in order and saves it in the folder the
// view names. All members are called on one thread; start() runs the whole batch and the other
// members may be called nested inside it, from the events handled while a file is in transfer.
class BatchRun {
  public:
    BatchRun(const Catalogue& catalogue, BatchView& view, Transfer& transfer, FileStore& store);

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

    [[nodiscard]] bool running() const { return running_; }
    [[nodiscard]] std::int16_t abortFlag() const { return abortFlag_; }

  private:
    // Outcome of one file's pass; a failed file is named at the end of the batch.
    [[nodiscard]] bool downloadOne(std::size_t index);
    void finish();

    const Catalogue& catalogue_;
    BatchView& view_;
    Transfer& transfer_;
    FileStore& store_;

    std::int16_t abortFlag_ = 0;  // -1 asks the batch to stop; only -1 counts
    std::int16_t fileCounter_ = 0;
    bool running_ = false;
    bool terminated_ = false;
    std::vector<std::string> failed_;
};

// "終了しました（失敗 N 件）" and the status-bar list of names, for a batch that could not save
// every file. Exposed for tests.
[[nodiscard]] std::string failedActivityText(std::size_t failures);
[[nodiscard]] std::string failedFilesText(const std::vector<std::string>& names);

}  // namespace zavoket
