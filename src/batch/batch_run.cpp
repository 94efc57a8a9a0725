#include "batch/batch_run.h"

#include <algorithm>
#include <utility>

#include "batch/body_check.h"

namespace zavoket {

BatchRun::BatchRun(const Catalogue& catalogue, Transfer& transfer, FileStore& store, Post post,
                   std::string baseUrl)
    : catalogue_(catalogue),
      transfer_(transfer),
      store_(store),
      baseUrl_(std::move(baseUrl)),
      files_(std::move(post), [this] { filesDealt(); }) {}

// What is still asked for goes with the batch: the owner has stopped the transfer by now.
BatchRun::~BatchRun() = default;

void BatchRun::start() {
    if (running_ || view_ == nullptr) {
        return;
    }
    running_ = true;
    stopAsked_ = false;
    draining_ = false;
    nextIndex_ = 0;
    number_ = 0;
    failed_.clear();
    view_->batchStarted();
    advance();
}

void BatchRun::stop() {
    stopAsked_ = true;
    dropPause();
    if (view_ != nullptr) {
        view_->stopAsked();
    }
}

void BatchRun::ask(std::size_t index, bool again) {
    const std::string& name = catalogue_.localName(index);
    const std::string folder = view_->destination();
    // The body goes straight into a file without a name beside its destination, so it never
    // has to sit in memory.
    Asked fresh{
        .index = index, .id = ++lastId_, .file = store_.prepare(folder, name), .folder = folder};
    Asked& asked =
        again ? asked_.emplace_front(std::move(fresh)) : asked_.emplace_back(std::move(fresh));
    asked.sink = std::make_unique<CatalogueBodyCheck>(*asked.file, name.ends_with(".jpg"));
    transfer_.request(asked.id, baseUrl_ + catalogue_.remotePath(index), *asked.sink, *this);
}

// The file before has been dealt with: the next one becomes the file in transfer, and the ones
// behind it are asked for, unless the batch is over.
void BatchRun::advance() {
    for (;;) {
        if (stopAsked_ || (nextIndex_ == Catalogue::kSize && asked_.empty())) {
            return endWhenQuiet();
        }
        while (nextIndex_ < Catalogue::kSize && asked_.size() < 1 + kAhead) {
            ask(nextIndex_++);
        }
        Asked& current = asked_.front();
        view_->fileStarted(current.index, ++number_);
        for (const auto& news : std::exchange(current.held, {})) {
            news();
        }
        if (!current.result || !dealWithCurrent()) {
            return;  // its end, or the pipeline's, moves the batch on
        }
    }
}

void BatchRun::show(ConnectionState state) {
    view_->connectionChanged(state);
    // A broken connection ends the batch after this file.
    stopAsked_ = stopAsked_ || state == ConnectionState::Error;
}

BatchRun::Asked* BatchRun::find(RequestId id) {
    const auto found = std::ranges::find(asked_, id, &Asked::id);
    return found != asked_.end() ? &*found : nullptr;
}

// A request behind the file in transfer holds its news until it is that file; what it held
// then goes on its way with what it had, none of it lost.
void BatchRun::tell(RequestId id, bool waiting, std::function<void()> news) {
    Asked* asked = find(id);
    if (asked == nullptr) {
        return;
    }
    asked->waiting = waiting;
    if (asked == &asked_.front() && !draining_) {
        news();
    } else {
        asked->held.push_back(std::move(news));
    }
}

void BatchRun::requestState(RequestId id, ConnectionState state) {
    tell(id, false, [this, state] { show(state); });
}

void BatchRun::requestRetrying(RequestId id, std::chrono::milliseconds delay, int attempt) {
    tell(id, true, [this, delay, attempt] { view_->fileRetrying(delay, attempt); });
    dropPause();
}

// A stop does not wait out the pause before the file in transfer is tried again.
void BatchRun::dropPause() {
    if (stopAsked_ && !asked_.empty() && asked_.front().waiting) {
        transfer_.drop(asked_.front().id);
    }
}

void BatchRun::requestEnded(RequestId id, FetchResult result) {
    Asked* asked = find(id);
    if (asked == nullptr) {
        return;
    }
    asked->result = std::move(result);
    if (asked->dropped) {
        return endWhenQuiet();  // it goes with the others asked for ahead
    }
    if (asked == &asked_.front() && !draining_ && dealWithCurrent()) {
        advance();
    }
}

// Only a complete 200 response that can be the file gets a name: a failed fetch, an error page
// or a portal's page must never stand under the file's name, nor replace a good copy from an
// earlier batch. A copy the server says is up to date stays as it is. The file before this one
// is named first, so names come in order and at most one file late: until then, false.
bool BatchRun::dealWithCurrent() {
    if (!files_.idle()) {
        return false;
    }
    Asked current = std::move(asked_.front());
    asked_.pop_front();
    const FetchResult& result = *current.result;
    if (result.outcome == FetchOutcome::Received) {
        // The folder is asked again: one opened during the transfer receives this file. The
        // separator always goes in, also after a folder path that ends in one.
        files_.hand(std::move(current.file),
                    view_->destination() + "/" + catalogue_.localName(current.index),
                    current.index);
        return true;
    }
    files_.hand(std::move(current.file), {}, current.index);
    // A copy judged, or a folder found unable to take the file, in a folder the user has left
    // since says nothing of the one open now: the file is asked for again, for that one.
    if ((result.outcome == FetchOutcome::NotModified ||
         result.outcome == FetchOutcome::SinkFailed) &&
        current.folder != view_->destination()) {
        ask(current.index, true);
        return false;
    }
    if (result.outcome == FetchOutcome::NotModified) {
        view_->fileKept(current.index);
    } else {
        failed_.push_back(current.index);
        view_->fileFailed(current.index, result.proxyRefused       ? FailureCause::ProxyRefused
                                         : result.insecureRedirect ? FailureCause::InsecureRedirect
                                         : result.noRoom           ? FailureCause::DiskFull
                                         : result.outcome == FetchOutcome::SinkFailed
                                             ? FailureCause::NotSaved
                                             : FailureCause::Answer);
    }
    return true;
}

void BatchRun::takeNamed() {
    for (const auto& named : files_.takeNamed()) {
        if (named.ok) {
            view_->fileSaved(named.index);
        } else {
            failed_.push_back(named.index);
            view_->fileFailed(named.index, FailureCause::NotSaved);
        }
    }
}

void BatchRun::filesDealt() {
    takeNamed();
    if (draining_) {
        return endWhenQuiet();
    }
    if (!asked_.empty() && asked_.front().result && dealWithCurrent()) {
        advance();
    }
}

// What was asked for behind the file in transfer leaves nothing: a stop comes before its turn.
// One that has ended already goes at once; the others once the transfer tells their end.
void BatchRun::dropAhead() {
    for (Asked& asked : asked_) {
        if (asked.result) {
            files_.hand(std::move(asked.file), {}, asked.index);
        } else if (!std::exchange(asked.dropped, true)) {
            transfer_.drop(asked.id);
        }
    }
    std::erase_if(asked_, [](const Asked& asked) { return asked.result.has_value(); });
}

// Every file whose transfer ended has its name, and every file asked for ahead is gone, before
// the batch says it is over.
void BatchRun::endWhenQuiet() {
    if (!running_) {
        return;
    }
    draining_ = true;
    dropAhead();
    if (!asked_.empty() || !files_.idle()) {
        return;
    }
    // The last names may have come before the news of them: the ending counts them.
    takeNamed();
    running_ = false;
    BatchEnding ending;
    ending.stopped = number_ < Catalogue::kSize;  // a stop at the last file stops nothing
    std::ranges::sort(failed_);
    ending.failed = failed_;
    view_->batchEnded(ending);
}

}  // namespace zavoket
