#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/batch_view.h"
#include "batch/file_pipeline.h"
#include "batch/file_store.h"
#include "batch/post.h"
#include "batch/transfer.h"
#include "catalogue/catalogue.h"

namespace zavoket {

// The download batch: fetches every catalogue entry in order into the folder the view names,
// driven by what the transfer and the file pipeline tell it. Every member, and everything it
// tells the view, runs on the owner's thread; none of them waits. Files are flushed and named
// on the pipeline's thread, in order, while the next ones arrive.
class BatchRun final : private TransferEvents {
  public:
    // baseUrl: the folder on the server that holds the collection, ending in "/".
    BatchRun(const Catalogue& catalogue, Transfer& transfer, FileStore& store, Post post,
             std::string baseUrl);
    ~BatchRun() override;

    void setView(BatchView& view) { view_ = &view; }

    // Returns at once; ignored while a batch is active.
    void start();
    // The active batch stops once the file in transfer has been dealt with.
    void stop();
    // For the program's ending, once no event reaches the batch any more: waits, handling no
    // event, until the files handed over have their names, or until deadline; true when they
    // all have been dealt with.
    [[nodiscard]] bool settle(std::chrono::steady_clock::time_point deadline) {
        return files_.settle(deadline);
    }

    [[nodiscard]] bool running() const { return running_; }

    // Files asked for behind the one in transfer, so that the link never idles between files.
    static constexpr std::size_t kAhead = 4;

  private:
    // A file asked for: where its body goes, behind the check that it can be the file.
    struct Asked {
        std::size_t index;
        RequestId id;
        std::unique_ptr<IncomingFile> file;
        std::unique_ptr<BodySink> sink = {};
        // What the view is to be told of it once it is the file in transfer, in order.
        std::vector<std::function<void()>> held = {};
        std::optional<FetchResult> result = {};
        bool dropped = false;
        bool waiting = false;  // to be tried again
        std::string folder;    // the one it was judged against
    };

    void requestState(RequestId id, ConnectionState state) override;
    void requestEnded(RequestId id, FetchResult result) override;
    void requestRetrying(RequestId id, std::chrono::milliseconds delay, int attempt) override;
    void filesDealt();
    void takeNamed();

    // again: in the place of the file in transfer, for the folder open now.
    void ask(std::size_t index, bool again = false);
    void advance();
    void show(ConnectionState state);
    // News of a request still under way, told at once for the file in transfer.
    void tell(RequestId id, bool waiting, std::function<void()> news);
    void dropPause();
    [[nodiscard]] bool dealWithCurrent();
    void dropAhead();
    void endWhenQuiet();
    [[nodiscard]] Asked* find(RequestId id);

    const Catalogue& catalogue_;
    Transfer& transfer_;
    FileStore& store_;
    std::string baseUrl_;
    BatchView* view_ = nullptr;

    bool running_ = false;
    bool stopAsked_ = false;
    bool draining_ = false;  // the batch is over: it waits for what is in flight to settle
    std::size_t nextIndex_ = 0;
    std::size_t number_ = 0;
    RequestId lastId_ = 0;
    std::deque<Asked> asked_;          // in catalogue order; the front is the file in transfer
    std::vector<std::size_t> failed_;  // catalogue indices
    FilePipeline files_;               // last: its thread goes first
};

}  // namespace zavoket
