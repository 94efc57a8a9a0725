#pragma once

#include <string>

#include "batch/file_store.h"

namespace zavoket {

// Receives each file into a file without a name in its destination folder, writing it out to
// disk as it arrives, and flushes it completely before giving it its name: a name never holds
// anything but the old content or the whole new content, even across a crash. A symbolic link
// under the name is replaced as a name, never followed.
//
// create() and commit() are for the batch's thread; the body calls of an IncomingFile for the
// transfer's thread while a fetch is under way.
class AtomicFileStore final : public FileStore {
  public:
    // flush = false skips the flushes to disk: only for measuring what they cost.
    explicit AtomicFileStore(bool flush = true) : flush_(flush) {}

    // The first time a folder is used, it also clears away what a killed run of the program
    // may have left there: a file under a temporary name that was about to replace another.
    [[nodiscard]] std::unique_ptr<IncomingFile> create(const std::string& folder,
                                                       std::error_code& error) override;

  private:
    bool flush_;
    std::string cleanedFolder_;
};

// Names of the form the store gives a file for the moment it replaces another.
[[nodiscard]] bool isStoreTemporaryName(const std::string& name);

}  // namespace zavoket
