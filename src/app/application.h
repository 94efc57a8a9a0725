#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "batch/batch_run.h"
#include "batch/post.h"
#include "catalogue/catalogue.h"
#include "platform/atomic_file_store.h"
#include "platform/curl_transfer.h"

namespace zavoket {

struct ApplicationOptions {
    std::string baseUrl = {};  // the folder on the server that holds the collection; ends in "/"
    CurlTransferOptions transfer = {};
    FileStoreOptions files = {};
    FileStore* store = nullptr;  // instead of the application's own AtomicFileStore
    // How close() ends the process: at once, with nothing more run. A test puts its own here to
    // see the ending happen.
    std::function<void()> exit = {};
    // How long close() gives the destination to name the files whose transfer ended.
    std::chrono::milliseconds closeDeadline{500};
};

// The program's services, built before any window: the catalogue, the transfer, the file store
// and the batch run, and the program's ending. A window, or anything else that shows a batch,
// is the batch's view. post runs a task on the thread that owns all this; tasks posted for an
// application that has gone, or shut down, are dropped.
class Application {
  public:
    Application(ApplicationOptions options, const Post& post);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    [[nodiscard]] const Catalogue& catalogue() const { return catalogue_; }
    [[nodiscard]] BatchRun& batch() { return *batch_; }

    // For the program itself: SIGTERM, SIGINT and SIGHUP end it as close() does, and an exit()
    // (Qt's, when the display goes away) leaves no temporary name behind.
    static void takeOverProcessEndings();

    // The program ends now: shutdown() within the close deadline, then the exit.
    void close();

    // Nothing of the batch runs after this, not even the write of the file in transfer. A file
    // handed over to be named still gets its name, and the files still coming in lose their
    // temporary names, unless the destination does not answer by deadline: this returns by then
    // whatever the disk does, true when every file was dealt with.
    bool shutdown(std::chrono::steady_clock::time_point deadline);

  private:
    ApplicationOptions options_;
    std::shared_ptr<int> alive_ = std::make_shared<int>();  // until the shutdown
    Catalogue catalogue_;
    AtomicFileStore store_;
    std::unique_ptr<CurlTransfer> transfer_;
    std::unique_ptr<BatchRun> batch_;
};

}  // namespace zavoket
