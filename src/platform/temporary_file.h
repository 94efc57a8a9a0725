#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/atomic_file_store.h"
#include "platform/temporary_names.h"
#include "platform/unique_fd.h"

namespace zavoket {

// A file being received in its destination folder: without a name, or, where the file system
// cannot do that, under a temporary name that goes with it. It gets its real name only once
// its content is on disk.
class TemporaryFile final {
  public:
    TemporaryFile(UniqueFd dir, UniqueFd file, std::string tempName, TemporaryNameNote note,
                  bool flush, std::uint64_t run);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Opens a file in the folder that has no name yet, or, where the file system cannot do
    // that, one under a fresh temporary name, given for use in the store's run.
    [[nodiscard]] static std::unique_ptr<TemporaryFile> open(const std::string& folder,
                                                             FileStoreOptions options, NameUse use,
                                                             std::uint64_t run,
                                                             std::error_code& error);

    [[nodiscard]] bool restart(std::string_view contentType);
    [[nodiscard]] bool append(std::span<const char> bytes);
    void setModified(std::int64_t seconds) { modified_ = seconds; }
    // How coarsely the file system keeps a file's time, in whole seconds (2 on FAT): tried on
    // this file, which is left with a time of no meaning.
    [[nodiscard]] std::int64_t timeGrain();

    // The rest of the file starts on its way to the disk; the flush waits for commit(), on
    // another thread, so the next transfer need not wait for it.
    [[nodiscard]] bool complete();

    void toBeNamed() { note_.markWhole(); }

    // The content and what it takes to read it back reach the disk first; the name comes after,
    // in its own step.
    [[nodiscard]] std::error_code commit(const std::string& path);

  private:
    void stampModified();
    void startWriteBack();
    std::error_code linkInto(int target, const std::string& name);
    std::error_code renameInto(int target, const std::string& name);
    std::error_code copyInto(const std::string& folder, const std::string& path);

    UniqueFd dir_;
    UniqueFd file_;
    std::string tempName_;  // set only where the file system has no unnamed files
    TemporaryNameNote note_;
    bool flush_;
    std::uint64_t run_;
    std::uint64_t written_ = 0;
    std::uint64_t flushedUpTo_ = 0;
    std::optional<std::int64_t> modified_;
};

}  // namespace zavoket
