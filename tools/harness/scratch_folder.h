#pragma once

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace zavoket::harness {

// A fresh folder, removed with everything in it. By default under /dev/shm where the machine
// lets us write there, as the disk's own speed is seldom what is measured; else under the
// system's temporary folder. Its name holds the process id: those of processes that were killed
// before they could remove them are removed when the next one is made there.
class ScratchFolder {
  public:
    explicit ScratchFolder(std::filesystem::path base = {}) {
        if (base.empty()) {
            base = ::access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm"
                                                          : std::filesystem::temp_directory_path();
        }
        for (const auto& entry : std::filesystem::directory_iterator(base)) {
            const std::string name = entry.path().filename().string();
            const long owner = name.starts_with("zavoket-") ? std::atol(name.c_str() + 8) : 0;
            if (owner > 0 && ::kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH) {
                std::error_code ignored;
                std::filesystem::remove_all(entry.path(), ignored);
            }
        }
        std::string pattern =
            (base / ("zavoket-" + std::to_string(::getpid()) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a folder under " + base.string());
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::string str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace zavoket::harness
