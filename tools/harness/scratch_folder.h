#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace zavoket::harness {

// A fresh folder, removed with everything in it. By default under /dev/shm where the machine
// lets us write there, as the disk's own speed is seldom what is measured; else under the
// system's temporary folder.
class ScratchFolder {
  public:
    explicit ScratchFolder(std::filesystem::path base = {}) {
        if (base.empty()) {
            base = ::access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm"
                                                          : std::filesystem::temp_directory_path();
        }
        std::string pattern = (base / "zavoket-XXXXXX").string();
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
