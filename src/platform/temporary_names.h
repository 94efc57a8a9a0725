#pragma once

#include <cstdint>
#include <future>
#include <string>
#include <utility>

namespace zavoket {

// The temporary names the store gives files on disk, kept in a registry that a signal handler
// can read, so that no ending of the program leaves one behind.

// A fresh name of the store's form: the process id, a counter and a random number.
[[nodiscard]] std::string makeTemporaryName();

// Names of the form the store gives a file while it is received or replaces another.
[[nodiscard]] bool isStoreTemporaryName(const std::string& name);

// What a name is given for: a file coming in, which a close takes away, or a whole file on its
// way to its real name, which a close lets have it.
enum class NameUse { Receiving, Naming };

// Each store gives names in a run of its own. An ending ends the runs begun before it: their
// names are no longer given, and a store made after it (a test's next one) gives names again.
[[nodiscard]] std::uint64_t beginNamingRun();

// Notes a temporary name in folder (a descriptor that outlives the note) for as long as the
// note lives, before the name is given on disk: whatever ends the program then finds every name
// that may stand there. From the note until given(), the name counts as under way, and a close
// waits for it before it takes names away.
class TemporaryNameNote {
  public:
    TemporaryNameNote() = default;
    TemporaryNameNote(int folder, const std::string& name, NameUse use, std::uint64_t run);
    TemporaryNameNote(TemporaryNameNote&& other) noexcept
        : slot_(std::exchange(other.slot_, nullptr)) {}
    TemporaryNameNote& operator=(TemporaryNameNote other) noexcept;
    ~TemporaryNameNote() { release(); }

    // False where the name must not be given: its run has ended, or there is no room to note it.
    [[nodiscard]] explicit operator bool() const { return slot_ != nullptr; }

    // The file system has answered the attempt to give the name, either way.
    void given() noexcept;

    // The file is whole and waits for its real name: a close lets it have it.
    void markWhole();
    void release();

    struct Slot;  // where a signal handler finds the name

  private:
    Slot* slot_ = nullptr;
};

// Takes away, there and then, every noted name, whole files' too: for an ending that leaves
// no time for anything else. Safe in a signal handler.
void removeAllTemporaryNames() noexcept;

// For an ending the program cannot wait for (a destination that does not answer, a display that
// went away): a process of its own, which outlives the program, takes away every name still
// noted once the destination answers. Nothing waits for it.
void removeTemporaryNamesAfterExit() noexcept;

// A close: files still coming in get no more names, and once those under way are given, theirs
// are taken away, on a thread of its own: a destination that does not answer cannot hold the
// caller, who waits on the future as long as it likes.
[[nodiscard]] std::future<void> removeReceivingNamesAside();

// SIGTERM, SIGINT and SIGHUP end the process as closing the window does: the temporary names
// go, and nothing more is written.
void installSignalCleanup();

// Takes away the temporary names that runs of the program killed outright left in folder: those
// whose process is gone.
void removeDeadRunsNames(const std::string& folder);

}  // namespace zavoket
