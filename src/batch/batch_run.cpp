#include "batch/batch_run.h"

#include <exception>
#include <memory>

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

BatchRun::BatchRun(const Catalogue& catalogue, BatchView& view, Transfer& transfer,
                   FileStore& store)
    : catalogue_(catalogue), view_(view), transfer_(transfer), store_(store) {}

void BatchRun::start() {
    if (running_ || terminated_) {
        return;
    }
    running_ = true;
    failed_.clear();

    view_.setTimer1Enabled(true);
    view_.setImage3Visible(true);
    fileCounter_ = 0;
    abortFlag_ = kFalse;

    for (std::size_t i = 0; i <= kLastIndex; ++i) {
        if (abortFlag_ == kTrue) {
            view_.setLabel2Caption(kActivityAborted);
            view_.setTimer1Enabled(false);
            view_.showLabel11();
            view_.setImage3Visible(false);
            running_ = false;
            return;
        }
        if (!downloadOne(i)) {
            if (terminated_) {
                running_ = false;
                return;
            }
            failed_.push_back(catalogue_.localName(i));
        }
    }
    finish();
    running_ = false;
}

bool BatchRun::downloadOne(std::size_t index) {
    ++fileCounter_;
    view_.setLabel3Caption(std::to_string(fileCounter_) + "/194");
    const std::string& name = catalogue_.localName(index);
    view_.setLabel2Caption(name + "をダウンロードしています");

    const std::string url = view_.turlText() + catalogue_.remotePath(index);
    // The body goes straight into an unnamed file beside its destination, so it never has to
    // sit in memory and is on disk by the time its transfer ends.
    std::error_code createError;
    std::unique_ptr<IncomingFile> incoming = store_.create(view_.dirPath(), createError);
    DiscardingSink nowhere;
    CatalogueBodyCheck sink(incoming ? static_cast<BodySink&>(*incoming) : nowhere,
                            name.ends_with(".jpg"));
    FetchResult result;
    try {
        result = transfer_.fetch(
            url, [this](ConnectionState state) { onStateChange(static_cast<std::int16_t>(state)); },
            sink);
    } catch (const std::exception& e) {
        result.outcome = FetchOutcome::TransportError;
        result.detail = e.what();
    }
    if (terminated_) {
        return false;
    }

    // Only a complete 200 response that can be the file gets a name: a failed fetch, an error
    // page or a portal's page must never stand under the file's name, nor replace a good copy
    // from an earlier batch.
    bool saved = false;
    if (result.outcome == FetchOutcome::Received && incoming) {
        // The folder is read again: one opened during the transfer receives this file. The
        // separator always goes in, also after a folder path that ends in one.
        const std::string path = view_.dirPath() + "/" + name;
        saved = !incoming->commit(path);
    }
    incoming.reset();
    view_.refreshFile();
    return saved;
}

void BatchRun::finish() {
    view_.setImage3Visible(false);
    view_.setTimer1Enabled(false);
    if (failed_.empty()) {
        view_.setLabel2Caption(kActivityFinished);
    } else {
        view_.setLabel2Caption(failedActivityText(failed_.size()));
        view_.setSbText(failedFilesText(failed_));
    }
}

void BatchRun::abort() {
    abortFlag_ = kTrue;
    view_.showLabel11();
}

void BatchRun::onStateChange(std::int16_t state) {
    const auto message = stateMessage(state);
    if (!message) {
        return;
    }
    view_.setSbText(std::string(*message));
    if (state == kStateError) {
        abortFlag_ = kTrue;
    }
}

void BatchRun::terminate() {
    terminated_ = true;
}

}  // namespace zavoket
