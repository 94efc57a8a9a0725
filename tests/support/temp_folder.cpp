#include "support/temp_folder.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace zavoket::test {

TempFolder::TempFolder(const std::filesystem::path& base) {
    const auto parent = base.empty() ? std::filesystem::temp_directory_path() : base;
    std::string pattern = (parent / "zavoket-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

bool isMountPoint(const std::filesystem::path& path) {
    std::ifstream mounts("/proc/self/mounts");
    std::string device;
    std::string point;
    std::string rest;
    while (mounts >> device >> point && std::getline(mounts, rest)) {
        if (point == path.string()) {
            return true;
        }
    }
    return false;
}

}  // namespace

ExfatMount::ExfatMount() {
    const auto image = scratch_.path() / "stick.img";
    std::filesystem::create_directory(path());
    if (::geteuid() != 0) {
        failure_ = "mounting exFAT needs root";
        return;
    }
    std::ofstream(image).close();
    std::filesystem::resize_file(image, 64 << 20);
    if (std::system(("mkfs.exfat " + image.string() + " >/dev/null 2>&1").c_str()) != 0) {
        failure_ = "mkfs.exfat failed or is missing (exfatprogs)";
        return;
    }
    loop_ = printed("losetup -f --show " + image.string() + " 2>/dev/null");
    loop_ = loop_.substr(0, loop_.find('\n'));
    if (loop_.empty()) {
        failure_ = "no loop device could be set up";
        return;
    }
    // In the foreground (-d), so the daemon is a child of ours that a test can stop.
    daemon_ = std::make_unique<Process>(
        std::vector<std::string>{"mount.exfat-fuse", "-d", loop_, path().string()});
    if (!daemon_->started()) {
        failure_ = "mount.exfat-fuse is missing (exfat-fuse)";
        return;
    }
    for (int i = 0; i < 250 && !isMountPoint(path()); ++i) {
        if (!daemon_->running()) {
            failure_ = "mount.exfat-fuse could not mount (no /dev/fuse?)";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    mounted_ = isMountPoint(path());
    if (!mounted_) {
        failure_ = "the exFAT mount did not appear";
    }
}

ExfatMount::~ExfatMount() {
    thaw();
    if (mounted_) {
        ::umount2(path().c_str(), MNT_DETACH);
    }
    if (daemon_) {
        daemon_->end(SIGTERM);
    }
    if (!loop_.empty()) {
        (void)std::system(("losetup -d " + loop_ + " 2>/dev/null").c_str());
    }
}

void ExfatMount::freeze() {
    if (daemon_) {
        ::kill(daemon_->pid(), SIGSTOP);
    }
}

void ExfatMount::thaw() {
    if (daemon_) {
        ::kill(daemon_->pid(), SIGCONT);
    }
}

std::vector<char> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::vector<std::string> listFolder(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace zavoket::test
