#include "app/application.h"

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

Application::Application(ApplicationOptions options, Waiter& waiter)
    : options_(std::move(options)),
      catalogue_(filled()),
      transfer_(waiter, options_.transfer),
      store_(options_.files),
      batch_(catalogue_, transfer_, options_.store != nullptr ? *options_.store : store_, waiter) {}

bool Application::shutdown(std::chrono::steady_clock::time_point deadline) {
    batch_.terminate();
    transfer_.cancel();
    std::future<void> removed = removeReceivingNamesAside();
    const bool settled = batch_.settle(deadline);
    if (removed.wait_until(deadline) == std::future_status::ready && settled) {
        return true;
    }
    // The destination does not answer: the program goes all the same, and a process of its own
    // clears the names of files still coming in or waiting for their flush once it answers.
    removeTemporaryNamesAfterExit();
    return false;
}

}  // namespace zavoket
