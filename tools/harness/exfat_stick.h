#pragma once

#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>

#include "process.h"
#include "scratch_folder.h"

namespace zavoket::harness {

// An exFAT file system, as on a USB stick or an SD card, made on a loop device in a fresh
// folder and mounted through FUSE for as long as the object lives. It needs root, /dev/fuse,
// loop devices, exfatprogs and exfat-fuse; where any is missing, failure() says why and
// nothing is mounted. The fresh folder is made under base (/media: where removable media go).
//
// fat32: FAT32 through fusefat instead, on the image itself, which keeps times to 2 s; at: the
// folder it is mounted over, instead of a fresh one.
class ExfatStick {
  public:
    explicit ExfatStick(int megabytes = 64,
                        const std::filesystem::path& base = std::filesystem::temp_directory_path(),
                        bool fat32 = false, std::filesystem::path at = {});
    ~ExfatStick();
    ExfatStick(const ExfatStick&) = delete;
    ExfatStick& operator=(const ExfatStick&) = delete;

    [[nodiscard]] const std::string& failure() const { return failure_; }
    [[nodiscard]] const std::filesystem::path& path() const { return point_; }

    // Stops and resumes the file system's daemon: every access waits meanwhile, as on a stick
    // pulled half out or a share whose link dropped.
    void freeze() { signal(SIGSTOP); }
    void thaw() { signal(SIGCONT); }

  private:
    void signal(int number) const;

    ScratchFolder scratch_;
    std::filesystem::path point_;
    std::string loop_;
    std::unique_ptr<Process> daemon_;
    bool mounted_ = false;
    std::string failure_;
};

}  // namespace zavoket::harness
