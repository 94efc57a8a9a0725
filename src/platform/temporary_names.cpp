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
#include <utility>

#include "platform/folder_entries.h"

namespace zavoket {
namespace {

constexpr const char* kTempPrefix = ".zavoket-";
constexpr const char* kTempSuffix = ".part";
// A slot's folder while no note holds it, and while a note writes its name there.
constexpr int kFree = -1;
constexpr int kClaimed = -2;

}  // namespace

// Written by the threads that create and rename files, read by a signal handler: fixed storage
// and lock-free atomics only.
struct TemporaryNameNote::Slot {
    std::atomic<int> folder{kFree};  // set last, once the name is in place
    std::atomic<bool> whole;         // the file is complete and waits for its real name
    bool underWay;                   // for the note's own thread only
    char name[64] = {};
};

namespace {

std::array<TemporaryNameNote::Slot, 16> slots;

std::atomic<std::uint64_t> runsBegun{0};
// The runs up to this one take no more names for files coming in.
std::atomic<std::uint64_t> receivingEndedThrough{0};
// Names noted and not yet given: each may stand on disk any moment.
std::atomic<int> namesUnderWay{0};

void endRuns(std::atomic<std::uint64_t>& endedThrough) noexcept {
    const std::uint64_t last = runsBegun.load();
    std::uint64_t ended = endedThrough.load();
    while (ended < last && !endedThrough.compare_exchange_weak(ended, last)) {
    }
}

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

std::uint64_t beginNamingRun() {
    return ++runsBegun;
}

TemporaryNameNote::TemporaryNameNote(int folder, const std::string& name, NameUse use,
                                     std::uint64_t run) {
    for (auto& slot : slots) {
        int free = kFree;
        if (name.size() < sizeof(slot.name) &&
            slot.folder.compare_exchange_strong(free, kClaimed)) {
            std::memcpy(slot.name, name.c_str(), name.size() + 1);
            slot.whole.store(use == NameUse::Naming);
            slot.folder.store(folder, std::memory_order_release);
            slot_ = &slot;
            break;
        }
    }
    if (slot_ == nullptr) {
        return;
    }
    // Counted before the run is looked at: an ending that comes after the look waits for this
    // name, and one that comes before it keeps the name from being given.
    namesUnderWay.fetch_add(1);
    slot_->underWay = true;
    if (use == NameUse::Receiving && run <= receivingEndedThrough.load()) {
        release();
    }
}

TemporaryNameNote& TemporaryNameNote::operator=(TemporaryNameNote other) noexcept {
    std::swap(slot_, other.slot_);  // the note held before goes with other
    return *this;
}

void TemporaryNameNote::given() noexcept {
    if (slot_ != nullptr && std::exchange(slot_->underWay, false)) {
        namesUnderWay.fetch_sub(1);
        namesUnderWay.notify_all();
    }
}

void TemporaryNameNote::markWhole() {
    if (slot_ != nullptr) {
        slot_->whole.store(true);
    }
}

void TemporaryNameNote::release() {
    given();
    if (slot_ != nullptr) {
        slot_->folder.store(kFree, std::memory_order_release);
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
    endRuns(receivingEndedThrough);
    std::packaged_task<void()> removal([] {
        // A name under way may stand on disk only after the registry is read: once none is,
        // every name there is noted, and no more come.
        for (int underWay = namesUnderWay.load(); underWay > 0; underWay = namesUnderWay.load()) {
            namesUnderWay.wait(underWay);
        }
        removeNoted(Which::Receiving);
    });
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
