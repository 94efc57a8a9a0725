#pragma once

#include <map>
#include <mutex>
#include <string>

#include "batch/file_store.h"
#include "platform/temporary_names.h"

namespace zavoket {

// Receives each file into a file without a name in its destination folder, writing it out to
// disk as it arrives, and flushes it completely before giving it its name: a name never holds
// anything but the old content or the whole new content, even across a crash. A symbolic link
// under the name is replaced as a name, never followed.
//
// create() and commit() are for the batch's thread; the body calls of an IncomingFile for the
// transfer's thread while a fetch is under way.
struct FileStoreOptions {
    bool flush = true;  // false skips the flushes to disk: only for measuring what they cost
    // false receives every file under a temporary name, as on file systems that have no
    // unnamed files (exFAT and FAT: USB sticks, SD cards).
    bool unnamedFiles = true;
};

class AtomicFileStore final : public FileStore {
  public:
    explicit AtomicFileStore(FileStoreOptions options = {}) : options_(options) {}

    // The first time a folder takes a file, what a killed run of the program may have left
    // there is cleared away: files under temporary names.
    [[nodiscard]] std::unique_ptr<IncomingFile> prepare(const std::string& folder,
                                                        const std::string& name) override;

  private:
    class LazyFile;
    void clearLeftoversOnce(const std::string& folder);
    // Found once a folder, by trying a file there; 1 while none can be made.
    [[nodiscard]] std::int64_t timeGrain(const std::string& folder);

    FileStoreOptions options_;
    const std::uint64_t run_ = beginNamingRun();  // a close ends the names this store gives
    std::mutex mutex_;
    std::string cleanedFolder_;
    std::map<std::string, std::int64_t> grains_;  // by folder
};

}  // namespace zavoket
