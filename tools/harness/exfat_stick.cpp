#include "exfat_stick.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace zavoket::harness {

namespace fs = std::filesystem;

ExfatStick::ExfatStick(int megabytes, const fs::path& base, bool fat32, fs::path at)
    : scratch_((fs::create_directories(base), base)),
      point_(at.empty() ? scratch_.path() / "stick" : std::move(at)) {
    fs::create_directories(path());
    const std::string image = (scratch_.path() / "stick.img").string();
    const char* const tool = fat32 ? "fusefat" : "mount.exfat-fuse";
    if (::geteuid() != 0) {
        failure_ = std::string(tool) + " needs root here";
        return;
    }
    const std::string make = fat32 ? "mkfs.fat -F 32 " : "mkfs.exfat ";
    if (std::system(("truncate -s " + std::to_string(megabytes) + "M " + image + " && " + make +
                     image + " >/dev/null 2>&1")
                        .c_str()) != 0) {
        failure_ = make + "failed or is missing (exfatprogs, dosfstools)";
        return;
    }
    loop_ = fat32 ? "" : printed("losetup -f --show " + image + " 2>/dev/null");
    loop_ = loop_.substr(0, loop_.find('\n'));
    if (loop_.empty() && !fat32) {
        failure_ = "no loop device could be set up";
        return;
    }
    // In the foreground, so the daemon is a child of ours that can be stopped.
    daemon_ = std::make_unique<Process>(
        fat32 ? std::vector<std::string>{tool, "-f", "-o", "rw+", image, path().string()}
              : std::vector<std::string>{tool, "-d", loop_, path().string()});
    const std::string mounted = "mountpoint -q " + path().string();
    for (int i = 0; i < 250 && daemon_->running() && !mounted_; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        mounted_ = std::system(mounted.c_str()) == 0;
    }
    if (!mounted_) {
        failure_ = std::string(tool) + " could not mount (missing, or no /dev/fuse?)";
    }
}

ExfatStick::~ExfatStick() {
    thaw();
    if (mounted_) {
        ::umount2(path().c_str(), MNT_DETACH);
    }
    daemon_.reset();
    if (!loop_.empty()) {
        (void)std::system(("losetup -d " + loop_ + " 2>/dev/null").c_str());
    }
}

void ExfatStick::signal(int number) const {
    daemon_ ? void(::kill(daemon_->pid(), number)) : void();
}

}  // namespace zavoket::harness
