#include "batch/batch_run.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>

#include "batch/body_check.h"
#include "batch/state_messages.h"

namespace zavoket {
namespace {

constexpr std::int16_t kTrue = -1;
constexpr std::int16_t kFalse = 0;
constexpr std::size_t kLastIndex = 193;
constexpr std::size_t kNamesShown = 5;
static_assert(kLastIndex + 1 == Catalogue::kSize, "the loop and \"/194\" must match the catalogue");

}  // namespace

std::string failedActivityText(std::size_t failures) {
    return std::string(kActivityFinished) + "（失敗 " + std::to_string(failures) + " 件）";
}

std::string failedFilesText(const std::vector<std::string>& names) {
    std::string text = "保存できなかったファイル: ";
    for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i) {
        if (i > 0) {
            text += ", ";
        }
        text += names[i];
    }
    if (names.size() > kNamesShown) {
        text += " ほか " + std::to_string(names.size() - kNamesShown) + " 件";
    }
    return text;
}

BatchRun::BatchRun(const Catalogue& catalogue, Transfer& transfer, FileStore& store, Waiter& waiter)
    : catalogue_(catalogue), transfer_(transfer), store_(store), waiter_(waiter), files_(waiter) {}

void BatchRun::start() {
    if (running_ || terminated_ || view_ == nullptr) {
        return;
    }
    running_ = true;
    failed_.clear();

    view_->setTimer1Enabled(true);
    view_->setImage3Visible(true);
    fileCounter_ = 0;
    abortFlag_ = kFalse;

    for (std::size_t i = 0; i <= kLastIndex && !terminated_; ++i) {
        if (abortFlag_ == kTrue) {
            dropNext();
            // Every file whose transfer ended has its name before the batch says it stopped.
            if (waitForFiles()) {
                view_->setLabel2Caption(kActivityAborted);
                view_->setTimer1Enabled(false);
                view_->showLabel11();
                view_->setImage3Visible(false);
            }
            running_ = false;
            return;
        }
        downloadOne(i);
    }
    dropNext();
    if (waitForFiles()) {
        finish();
    }
    running_ = false;
}

BatchRun::Asked BatchRun::ask(std::size_t index) {
    const std::string& name = catalogue_.localName(index);
    // The body goes straight into a file without a name beside its destination, so it never
    // has to sit in memory.
    Asked asked{index, store_.prepare(view_->dirPath(), name), nullptr};
    asked.sink = std::make_unique<CatalogueBodyCheck>(*asked.file, name.ends_with(".jpg"));
    return asked;
}

// What was asked for behind the file in transfer leaves nothing: a stop comes before their turn.
void BatchRun::dropNext() {
    if (!next_.empty()) {
        transfer_.dropPrefetch();
    }
    for (Asked& next : std::exchange(next_, {})) {
        next.sink.reset();
        files_.hand(std::move(next.file), {}, next.index);
    }
}

void BatchRun::downloadOne(std::size_t index) {
    ++fileCounter_;
    view_->setLabel3Caption(std::to_string(fileCounter_) + "/194");
    const std::string& name = catalogue_.localName(index);
    view_->setLabel2Caption(name + "をダウンロードしています");

    if (!next_.empty() && next_.front().index != index) {
        dropNext();
    }
    Asked asked = next_.empty() ? ask(index) : std::move(next_.front());
    if (!next_.empty()) {
        next_.pop_front();
    }
    // The two files after this one are asked for behind it: while it arrives, the one behind
    // may end (a small picture) and the one after start, so the link does not idle.
    for (std::size_t ahead = index + 1 + next_.size(); ahead <= std::min(index + 2, kLastIndex);
         ++ahead) {
        next_.push_back(ask(ahead));
        transfer_.prefetch(view_->turlText() + catalogue_.remotePath(ahead), *next_.back().sink);
    }
    std::unique_ptr<IncomingFile> file = std::move(asked.file);
    FetchResult result;
    try {
        result = transfer_.fetch(
            view_->turlText() + catalogue_.remotePath(index),
            [this](ConnectionState state) { onStateChange(static_cast<std::int16_t>(state)); },
            *asked.sink);
    } catch (const std::exception& e) {
        result.outcome = FetchOutcome::TransportError;
        result.detail = e.what();
    }
    if (result.proxyRefused) {
        view_->setSbText(kProxyRefused);
    }

    // Only a complete 200 response that can be the file gets a name: a failed fetch, an error
    // page or a portal's page must never stand under the file's name, nor replace a good copy
    // from an earlier batch. A copy the server says is up to date stays as it is. The file
    // before this one is named first, so names come in order and at most one file late.
    const bool whole = result.outcome == FetchOutcome::Received;
    const bool kept = result.outcome == FetchOutcome::NotModified;
    if (!waitForFiles() || !whole) {
        files_.hand(std::move(file), {}, index);
        if (kept && !terminated_) {
            view_->refreshFile();
        } else if (!terminated_) {
            failed_.push_back(index);
        }
        return;
    }
    // The folder is read again: one opened during the transfer receives this file. The
    // separator always goes in, also after a folder path that ends in one.
    files_.hand(std::move(file), view_->dirPath() + "/" + name, index);
}

bool BatchRun::waitForFiles() {
    while (!files_.idle() && !terminated_) {
        waiter_.wait();
    }
    takeNamed();
    return !terminated_;
}

void BatchRun::takeNamed() {
    for (const auto& named : files_.takeNamed()) {
        if (!named.ok) {
            failed_.push_back(named.index);
        }
        view_->refreshFile();
    }
}

void BatchRun::finish() {
    view_->setImage3Visible(false);
    view_->setTimer1Enabled(false);
    if (failed_.empty()) {
        view_->setLabel2Caption(kActivityFinished);
        return;
    }
    std::sort(failed_.begin(), failed_.end());
    std::vector<std::string> names;
    for (std::size_t index : failed_) {
        names.push_back(catalogue_.localName(index));
    }
    view_->setLabel2Caption(failedActivityText(names.size()));
    view_->setSbText(failedFilesText(names));
}

void BatchRun::abort() {
    abortFlag_ = kTrue;
    view_->showLabel11();
}

void BatchRun::onStateChange(std::int16_t state) {
    const auto message = stateMessage(state);
    if (!message) {
        return;
    }
    view_->setSbText(std::string(*message));
    if (state == kStateError) {
        abortFlag_ = kTrue;
    }
}

void BatchRun::terminate() {
    terminated_ = true;
}

}  // namespace zavoket
