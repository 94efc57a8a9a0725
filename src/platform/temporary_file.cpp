#include "platform/temporary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

namespace zavoket {
namespace {

// Write-back is started every so many bytes, so little is left to flush when the file is done.
constexpr std::uint64_t kWriteBackStep = 256 << 10;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

bool writeAll(int fd, std::span<const char> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// Splits "folder/name" at its last separator.
bool splitPath(const std::string& path, std::string& folder, std::string& name) {
    const auto slash = path.rfind('/');
    folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    return !name.empty() && name != "." && name != "..";
}

UniqueFd openFolder(const std::string& folder) {
    return UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Gives a fresh temporary name in folder by give(name), which answers as a system call does;
// another name is tried where one stands already. The name is noted before it may stand on
// disk: an ending that reads the notes while the file system gives it, slowly through FUSE,
// must not miss it.
std::error_code giveFreshName(int folder, NameUse use, std::uint64_t run, std::string& name,
                              TemporaryNameNote& note,
                              const std::function<bool(const char*)>& give) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        name = makeTemporaryName();
        note = TemporaryNameNote(folder, name, use, run);
        if (!note) {
            return std::make_error_code(std::errc::operation_canceled);  // the program is ending
        }
        const bool given = give(name.c_str());
        const int failure = errno;
        note.given();
        if (given) {
            return {};
        }
        if (failure != EEXIST) {
            return {failure, std::generic_category()};
        }
    }
    return std::make_error_code(std::errc::file_exists);
}

}  // namespace

TemporaryFile::TemporaryFile(UniqueFd dir, UniqueFd file, std::string tempName,
                             TemporaryNameNote note, bool flush, std::uint64_t run)
    : dir_(std::move(dir)),
      file_(std::move(file)),
      tempName_(std::move(tempName)),
      note_(std::move(note)),
      flush_(flush),
      run_(run) {}

TemporaryFile::~TemporaryFile() {
    if (note_) {  // a temporary name stands until the file has its own
        ::unlinkat(dir_.get(), tempName_.c_str(), 0);
    }
}

std::unique_ptr<TemporaryFile> TemporaryFile::open(const std::string& folder,
                                                   FileStoreOptions options, NameUse use,
                                                   std::uint64_t run, std::error_code& error) {
    UniqueFd dir = openFolder(folder);
    if (!dir) {
        error = lastError();
        return nullptr;
    }
    UniqueFd file;
    if (options.unnamedFiles) {
        file.reset(::openat(dir.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    }
    // Where that fails for any other reason than a file system without unnamed files, a
    // named file fails the same way.
    std::string tempName;
    TemporaryNameNote note;
    if (!file) {
        error = giveFreshName(dir.get(), use, run, tempName, note, [&](const char* name) {
            file.reset(::openat(dir.get(), name, O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666));
            return static_cast<bool>(file);
        });
        if (error) {
            return nullptr;
        }
    }
    return std::make_unique<TemporaryFile>(std::move(dir), std::move(file), std::move(tempName),
                                           std::move(note), options.flush, run);
}

bool TemporaryFile::restart(std::string_view) {
    if (written_ == 0) {
        return true;  // the usual case: nothing came before
    }
    written_ = 0;
    flushedUpTo_ = 0;
    return ::ftruncate(file_.get(), 0) == 0 && ::lseek(file_.get(), 0, SEEK_SET) == 0;
}

bool TemporaryFile::append(std::span<const char> bytes) {
    if (!writeAll(file_.get(), bytes)) {
        return false;
    }
    written_ += bytes.size();
    if (written_ - flushedUpTo_ >= kWriteBackStep) {
        startWriteBack();
    }
    return true;
}

bool TemporaryFile::complete() {
    startWriteBack();
    return true;
}

std::error_code TemporaryFile::commit(const std::string& path) {
    std::string folder;
    std::string name;
    if (!splitPath(path, folder, name)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (flush_ && ::fdatasync(file_.get()) != 0) {
        return lastError();
    }
    // After the flush: a file system that writes back late (FUSE) would stamp the time of
    // that write instead.
    stampModified();
    UniqueFd target = openFolder(folder);
    if (!target) {
        return lastError();
    }
    std::error_code error =
        tempName_.empty() ? linkInto(target.get(), name) : renameInto(target.get(), name);
    // The folder itself is not flushed: the content is on disk before the name exists, so
    // after a crash the name holds the new file or the old one, never a broken one.
    if (error == std::errc::cross_device_link) {
        error = copyInto(folder, path);
    } else if (!error) {
        stampModified();  // again: fusefat gives a renamed file the time of the rename
    }
    return error;
}

// The server's time goes on the file, so the next batch can ask for a newer one only. A
// file system with coarse times (FAT keeps 2 s) may round it up, and a copy that looks newer
// than it is could hide a change on the server: the time then goes a second earlier, which
// at worst fetches the file again. Without a time from the server, the file keeps its own.
void TemporaryFile::stampModified() {
    if (!modified_) {
        return;
    }
    const std::int64_t seconds = *modified_;
    for (const std::int64_t stamp : {seconds, seconds - 1}) {
        // Read and changed at that time, as wget -N leaves a file: some FUSE file systems
        // take no time of the two left out.
        const timespec times[2] = {{static_cast<time_t>(stamp), 0},
                                   {static_cast<time_t>(stamp), 0}};
        struct stat info {};
        if (::futimens(file_.get(), times) != 0 || ::fstat(file_.get(), &info) != 0 ||
            info.st_mtim.tv_sec <= seconds) {
            return;
        }
    }
}

std::int64_t TemporaryFile::timeGrain() {
    // An odd second and a half: a file system that keeps less of it shows by how much.
    constexpr time_t kOdd = 1767225601;
    const timespec times[2] = {{kOdd, 500'000'000}, {kOdd, 500'000'000}};
    struct stat info {};
    if (::futimens(file_.get(), times) != 0 || ::fstat(file_.get(), &info) != 0 ||
        info.st_mtim.tv_sec == kOdd) {
        return 1;
    }
    return 2 * std::max<std::int64_t>(1, std::abs(info.st_mtim.tv_sec - kOdd));
}

// Starts the bytes not yet on their way to the disk, without waiting for them.
void TemporaryFile::startWriteBack() {
    if (flush_ && written_ > flushedUpTo_) {
        ::sync_file_range(file_.get(), static_cast<off_t>(flushedUpTo_),
                          static_cast<off_t>(written_ - flushedUpTo_), SYNC_FILE_RANGE_WRITE);
        flushedUpTo_ = written_;
    }
}

// The unnamed file gets the name directly where nothing stands under it; otherwise under a
// temporary name first, which then replaces the old entry in one step.
std::error_code TemporaryFile::linkInto(int target, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
    if (::linkat(AT_FDCWD, self.c_str(), target, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return {};
    }
    if (errno != EEXIST) {
        return lastError();
    }
    std::string temp;
    TemporaryNameNote note;
    if (const std::error_code error =
            giveFreshName(target, NameUse::Naming, run_, temp, note, [&](const char* given) {
                return ::linkat(AT_FDCWD, self.c_str(), target, given, AT_SYMLINK_FOLLOW) == 0;
            })) {
        return error;
    }
    if (::renameat(target, temp.c_str(), target, name.c_str()) != 0) {
        const std::error_code error = lastError();
        ::unlinkat(target, temp.c_str(), 0);
        return error;
    }
    return {};
}

std::error_code TemporaryFile::renameInto(int target, const std::string& name) {
    if (::renameat(dir_.get(), tempName_.c_str(), target, name.c_str()) != 0) {
        return lastError();
    }
    note_.release();
    return {};
}

// The destination is on another volume than the one the file was received on.
std::error_code TemporaryFile::copyInto(const std::string& folder, const std::string& path) {
    std::error_code error;
    auto copy = TemporaryFile::open(folder, {.flush = flush_, .unnamedFiles = true},
                                    NameUse::Naming, run_, error);
    if (!copy) {
        return error;
    }
    copy->modified_ = modified_;
    char buffer[1 << 16];
    for (off_t offset = 0;;) {
        const ssize_t n = ::pread(file_.get(), buffer, sizeof(buffer), offset);
        if (n < 0) {
            return lastError();
        }
        if (n == 0) {
            break;
        }
        if (!copy->append(std::span<const char>(buffer, static_cast<std::size_t>(n)))) {
            return lastError();
        }
        offset += n;
    }
    if (!copy->complete()) {
        return lastError();
    }
    return copy->commit(path);
}

}  // namespace zavoket
