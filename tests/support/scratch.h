#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "exfat_stick.h"
#include "process.h"
#include "scratch_folder.h"

namespace zavoket::test {

using harness::ExfatStick;
using harness::printed;
using harness::Process;
using TempFolder = harness::ScratchFolder;

// Mounts the tests make live in a mount namespace of the test process's own, where it may make
// one: the kernel takes them away with the process, however it ends.
inline const bool kMountsOfOurOwn = [] {
    return ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}();

// A tmpfs of the given size ("160k"), read-only or not, mounted on a folder for as long as the
// object lives.
// Mounting needs root in a sandbox that allows it; where it cannot be done, failure() says why.
class Tmpfs {
  public:
    Tmpfs(const std::filesystem::path& point, const std::string& size, bool readOnly = false)
        : point_(point) {
        if (::mount("zavoket-test", point.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0,
                    ("size=" + size).c_str()) != 0) {
            failure_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
        }
    }
    ~Tmpfs() {
        if (failure_.empty()) {
            ::umount2(point_.c_str(), MNT_DETACH);
        }
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    [[nodiscard]] const std::string& failure() const { return failure_; }

  private:
    std::filesystem::path point_;
    std::string failure_;
};

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    if (!(std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes)) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// Names of everything in a folder (not descending), sorted.
inline std::vector<std::string> listFolder(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace zavoket::test
