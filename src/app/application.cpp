#include "app/application.h"

#include <cstdlib>
#include <future>
#include <utility>

#include "platform/temporary_names.h"

namespace zavoket {
namespace {

Catalogue filled() {
    Catalogue catalogue;
    catalogue.fill();
    return catalogue;
}

}  // namespace

Application::Application(ApplicationOptions options, const Post& post)
    : options_(std::move(options)), catalogue_(filled()), store_(options_.files) {
    // What the transfer and the disk tell after the application has gone reaches nobody.
    Post guarded = [post, alive = std::weak_ptr<int>(alive_)](std::function<void()> told) {
        post([alive, told = std::move(told)] {
            if (alive.lock()) {
                told();
            }
        });
    };
    transfer_ = std::make_unique<CurlTransfer>(guarded, options_.transfer);
    batch_ = std::make_unique<BatchRun>(catalogue_, *transfer_,
                                        options_.store != nullptr ? *options_.store : store_,
                                        guarded, options_.baseUrl);
}

// The transfer stops before the files it writes into go with the batch.
Application::~Application() {
    transfer_.reset();
}

void Application::takeOverProcessEndings() {
    installSignalCleanup();
    std::atexit([] { removeTemporaryNamesAfterExit(); });
}

void Application::close() {
    shutdown(std::chrono::steady_clock::now() + options_.closeDeadline);
    options_.exit ? options_.exit() : std::_Exit(0);
}

bool Application::shutdown(std::chrono::steady_clock::time_point deadline) {
    // From here on, nothing the transfer or the disk tells reaches the batch or the window: the
    // batch takes no further step, not even for the file in transfer.
    alive_.reset();
    transfer_->cancel();
    std::future<void> removed = removeReceivingNamesAside();
    const bool settled = batch_->settle(deadline);
    if (removed.wait_until(deadline) == std::future_status::ready && settled) {
        return true;
    }
    // The destination does not answer: the program goes all the same, and a process of its own
    // clears the names of files still coming in or waiting for their flush once it answers.
    removeTemporaryNamesAfterExit();
    return false;
}

}  // namespace zavoket
