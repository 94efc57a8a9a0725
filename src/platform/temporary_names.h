#pragma once

#include <future>
#include <string>

namespace zavoket {

// The temporary names the store gives files on disk, kept in a registry that a signal handler
// can read, so that no ending of the program leaves one behind.

// A fresh name of the store's form: the process id, a counter and a random number.
[[nodiscard]] std::string makeTemporaryName();

// Names of the form the store gives a file while it is received or replaces another.
[[nodiscard]] bool isStoreTemporaryName(const std::string& name);

// Notes a temporary name in folder (a descriptor that outlives the note) for as long as the
// note lives.
class TemporaryNameNote {
  public:
    TemporaryNameNote() = default;
    TemporaryNameNote(int folder, const std::string& name);
    ~TemporaryNameNote() { release(); }
    TemporaryNameNote(const TemporaryNameNote&) = delete;
    TemporaryNameNote& operator=(const TemporaryNameNote&) = delete;

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

// Takes away the names of files still coming in, on a thread of its own: a destination that
// does not answer cannot hold the caller, who waits on the future as long as it likes.
[[nodiscard]] std::future<void> removeReceivingNamesAside();

// SIGTERM, SIGINT and SIGHUP end the process as closing the window does: the temporary names
// go, and nothing more is written.
void installSignalCleanup();

// Takes away the temporary names that runs of the program killed outright left in folder: those
// whose process is gone.
void removeDeadRunsNames(const std::string& folder);

}  // namespace zavoket
