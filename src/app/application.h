#pragma once

#include <chrono>
#include <string>

#include "batch/batch_run.h"
#include "batch/waiter.h"
#include "catalogue/catalogue.h"
#include "platform/atomic_file_store.h"
#include "platform/curl_transfer.h"

namespace zavoket {

struct ApplicationOptions {
    std::string baseUrl;  // the folder on the server that holds the collection; ends in "/"
    CurlTransferOptions transfer;
    FileStoreOptions files;
    FileStore* store = nullptr;  // instead of the application's own AtomicFileStore
};

// The program's services, built before any window: the catalogue, the transfer, the file store
// and the batch run. A window, or anything else that shows a batch, is its view. The waiter is
// how the batch's thread spends the waits for the transfer and the disk; it outlives this.
class Application {
  public:
    Application(ApplicationOptions options, Waiter& waiter);

    [[nodiscard]] const std::string& baseUrl() const { return options_.baseUrl; }
    [[nodiscard]] const Catalogue& catalogue() const { return catalogue_; }
    [[nodiscard]] BatchRun& batch() { return batch_; }
    [[nodiscard]] CurlTransfer& transfer() { return transfer_; }

    // The program ends: nothing of the batch runs after this, not even the write of the file in
    // transfer. A file whose transfer has ended still gets its name, and the one in transfer
    // loses its temporary name, unless the destination does not answer by deadline: this
    // returns by then whatever the disk does, true when every file was dealt with.
    bool shutdown(std::chrono::steady_clock::time_point deadline);

  private:
    ApplicationOptions options_;
    Catalogue catalogue_;
    CurlTransfer transfer_;
    AtomicFileStore store_;
    BatchRun batch_;
};

}  // namespace zavoket
