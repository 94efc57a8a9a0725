#include "platform/temporary_names.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "platform/folder_entries.h"

namespace zavoket {
namespace {

constexpr const char* kTempPrefix = ".zavoket-";
constexpr const char* kTempSuffix = ".part";

}  // namespace

// Written by the threads that create and rename files, read by a signal handler: fixed storage
// and lock-free atomics only.
struct TemporaryNameNote::Slot {
    std::atomic<bool> taken{false};
    std::atomic<bool> whole{false};  // the file is complete and waits for its real name
    std::atomic<int> folder{-1};     // set last, once the name is in place
    char name[64] = {};
};

namespace {

std::array<TemporaryNameNote::Slot, 16> slots;

enum class Which { Receiving, All };

void removeNoted(Which which) noexcept {
    for (auto& slot : slots) {
        const int folder = slot.folder.load(std::memory_order_acquire);
        if (folder >= 0 && (which == Which::All || !slot.whole.load())) {
            ::unlinkat(folder, slot.name, 0);
        }
    }
}

extern "C" void endOnSignal(int signal) {
    removeAllTemporaryNames();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

std::string makeTemporaryName() {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    return std::string(kTempPrefix) + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
           "-" + std::to_string(random() % 1000000) + kTempSuffix;
}

bool isStoreTemporaryName(const std::string& name) {
    return name.starts_with(kTempPrefix) && name.ends_with(kTempSuffix);
}

TemporaryNameNote::TemporaryNameNote(int folder, const std::string& name) {
    for (auto& slot : slots) {
        bool expected = false;
        if (name.size() < sizeof(slot.name) && slot.taken.compare_exchange_strong(expected, true)) {
            std::memcpy(slot.name, name.c_str(), name.size() + 1);
            slot.folder.store(folder, std::memory_order_release);
            slot_ = &slot;
            return;
        }
    }
}

void TemporaryNameNote::markWhole() {
    if (slot_ != nullptr) {
        slot_->whole.store(true);
    }
}

void TemporaryNameNote::release() {
    if (slot_ != nullptr) {
        slot_->folder.store(-1, std::memory_order_release);
        slot_->whole.store(false);
        slot_->taken.store(false, std::memory_order_release);
        slot_ = nullptr;
    }
}

void removeAllTemporaryNames() noexcept {
    removeNoted(Which::All);
}

void removeTemporaryNamesAfterExit() noexcept {
    const bool noted = std::any_of(slots.begin(), slots.end(), [](const auto& slot) {
        return slot.folder.load(std::memory_order_acquire) >= 0;
    });
    if (!noted) {
        return;
    }
    // Not waited for: even its end can wait for the destination, as closing the files it
    // shares flushes them. It only unlinks and ends, which is all a child of a process with
    // threads may do.
    if (::fork() == 0) {
        removeAllTemporaryNames();
        ::_exit(0);
    }
}

std::future<void> removeReceivingNamesAside() {
    std::packaged_task<void()> removal([] { removeNoted(Which::Receiving); });
    std::future<void> done = removal.get_future();
    std::thread(std::move(removal)).detach();
    return done;
}

void installSignalCleanup() {
    struct sigaction action {};
    action.sa_handler = &endOnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

// A temporary name stands in a folder while a file is received where the file system has no
// unnamed files, and for the instant between linking a finished file in and renaming it over
// the old one; a process killed outright leaves it behind. Its process id is in the name.
void removeDeadRunsNames(const std::string& folder) {
    // A folder that cannot be read holds nothing to clear.
    static_cast<void>(forEachFolderEntry(folder.c_str(), [](const FolderEntry& entry) {
        const std::string name = entry.name();
        if (!isStoreTemporaryName(name)) {
            return;
        }
        const long owner = std::strtol(name.c_str() + std::strlen(kTempPrefix), nullptr, 10);
        if (owner > 0 && owner != ::getpid() && ::kill(static_cast<pid_t>(owner), 0) != 0 &&
            errno == ESRCH) {
            ::unlinkat(entry.folder(), entry.name(), 0);
        }
    }));
}

}  // namespace zavoket
