#include "platform/atomic_file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <mutex>
#include <optional>

#include "platform/temporary_file.h"
#include "platform/temporary_names.h"
#include "platform/unique_fd.h"

namespace zavoket {

// Made when its body begins, on the transfer's thread.
class AtomicFileStore::LazyFile final : public IncomingFile {
  public:
    LazyFile(AtomicFileStore& store, std::string folder, std::string name)
        : store_(store), folder_(std::move(folder)), name_(std::move(name)) {}

    Probe probe() override {
        Probe probe;
        const UniqueFd dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        probe.folderUsable = dir && ::faccessat(dir.get(), ".", W_OK | X_OK, AT_EACCESS) == 0;
        struct stat info {};
        if (!probe.folderUsable ||
            ::fstatat(dir.get(), name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode)) {
            return probe;  // a link is not trusted to be a copy
        }
        const UniqueFd copy(::openat(dir.get(), name_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        std::string head(kStandingHeadBytes, '\0');
        const ssize_t n = copy ? ::pread(copy.get(), head.data(), head.size(), 0) : -1;
        if (n >= 0) {
            head.resize(static_cast<std::size_t>(n));
            probe.copy =
                StandingCopy{info.st_mtim.tv_sec, std::move(head),
                             static_cast<std::uint64_t>(info.st_size), store_.timeGrain(folder_)};
        }
        return probe;
    }
    void setModified(std::int64_t seconds) override { modified_ = seconds; }
    // The new file stands beside the old copy until it is named, so it needs all its bytes.
    // A file system that tells no size (fusefat) is left to say so at the write.
    bool hasRoomFor(std::uint64_t bytes) override {
        struct statvfs room {};
        return ::statvfs(folder_.c_str(), &room) != 0 || room.f_blocks == 0 ||
               static_cast<std::uint64_t>(room.f_bavail) * room.f_frsize >= bytes;
    }
    void toBeNamed() override {
        if (file_) {
            file_->toBeNamed();
        }
    }

    bool restart(std::string_view contentType) override {
        if (!file_) {  // tried again at each new body: the folder may take it by then
            std::error_code error;
            store_.clearLeftoversOnce(folder_);
            file_ = TemporaryFile::open(folder_, store_.options_, NameUse::Receiving, store_.run_,
                                        error);
        }
        return !file_ || file_->restart(contentType);  // a folder that cannot take it: nowhere
    }
    bool append(std::span<const char> bytes) override { return !file_ || file_->append(bytes); }
    bool complete() override {
        if (file_ && modified_) {
            file_->setModified(*modified_);
        }
        return file_ && file_->complete();
    }
    std::error_code commit(const std::string& path) override {
        return file_ ? file_->commit(path)
                     : std::make_error_code(std::errc::no_such_file_or_directory);
    }

  private:
    AtomicFileStore& store_;
    std::string folder_;
    std::string name_;  // of the copy the file may replace
    std::unique_ptr<TemporaryFile> file_;
    std::optional<std::int64_t> modified_;
};

std::unique_ptr<IncomingFile> AtomicFileStore::prepare(const std::string& folder,
                                                       const std::string& name) {
    return std::make_unique<LazyFile>(*this, folder, name);
}

std::int64_t AtomicFileStore::timeGrain(const std::string& folder) {
    std::lock_guard lock(mutex_);
    const auto known = grains_.find(folder);
    if (known != grains_.end()) {
        return known->second;
    }
    std::error_code error;
    const auto file = TemporaryFile::open(folder, options_, NameUse::Receiving, run_, error);
    return file ? grains_[folder] = file->timeGrain() : 1;
}

void AtomicFileStore::clearLeftoversOnce(const std::string& folder) {
    std::lock_guard lock(mutex_);
    if (folder != cleanedFolder_) {
        removeDeadRunsNames(folder);
        cleanedFolder_ = folder;
    }
}

}  // namespace zavoket
