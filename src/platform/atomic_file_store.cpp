#include "platform/atomic_file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <random>

#include "platform/unique_fd.h"

namespace zavoket {
namespace {

constexpr const char* kTempPrefix = ".zavoket-";
constexpr const char* kTempSuffix = ".part";

std::error_code lastError() { return {errno, std::generic_category()}; }

std::string temporaryName() {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    return std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + "-" + std::to_string(random() % 1000000) + kTempSuffix;
}

std::error_code writeAll(int fd, std::span<const char> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

// Opens a file in the folder that has no name yet, or, where the file system cannot do that,
// one under a fresh temporary name (returned in tempName).
UniqueFd openUnnamed(int dirFd, std::string& tempName) {
    UniqueFd fd(::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (fd || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempName = temporaryName();
        fd.reset(::openat(dirFd, tempName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC,
                          0666));
        if (fd || errno != EEXIST) {
            break;
        }
    }
    if (!fd) {
        tempName.clear();
    }
    return fd;
}

}  // namespace

bool isStoreTemporaryName(const std::string& name) {
    return name.starts_with(kTempPrefix) && name.ends_with(kTempSuffix);
}

std::error_code AtomicFileStore::save(const std::string& path, std::span<const char> bytes) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return std::make_error_code(std::errc::invalid_argument);
    }

    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) {
        return lastError();
    }
    std::string tempName;  // set once the file has a name in the folder
    UniqueFd file = openUnnamed(dir.get(), tempName);
    if (!file) {
        return lastError();
    }
    auto discard = [&](std::error_code error) {
        if (!tempName.empty()) {
            ::unlinkat(dir.get(), tempName.c_str(), 0);
        }
        return error;
    };

    if (auto error = writeAll(file.get(), bytes)) {
        return discard(error);
    }
    if (::fsync(file.get()) != 0) {
        return discard(lastError());
    }
    if (tempName.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(file.get());
        for (int attempt = 0; attempt < 16 && tempName.empty(); ++attempt) {
            std::string candidate = temporaryName();
            if (::linkat(AT_FDCWD, self.c_str(), dir.get(), candidate.c_str(),
                         AT_SYMLINK_FOLLOW) == 0) {
                tempName = std::move(candidate);
            } else if (errno != EEXIST) {
                return lastError();
            }
        }
        if (tempName.empty()) {
            return std::make_error_code(std::errc::file_exists);
        }
    }
    if (!file.close()) {
        return discard(lastError());
    }
    if (::renameat(dir.get(), tempName.c_str(), dir.get(), name.c_str()) != 0) {
        return discard(lastError());
    }
    // The new name must survive a crash as well as the content does.
    ::fsync(dir.get());
    return {};
}

}  // namespace zavoket
