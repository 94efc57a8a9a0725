#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

namespace zavoket::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
  public:
    // Under the system's temporary folder, or under base when one is given.
    explicit TempFolder(const std::filesystem::path& base = {});
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::string str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

// An exFAT file system, as on a USB stick or an SD card, made on a loop device and mounted
// through FUSE for as long as the object lives. Mounting needs root, /dev/fuse, loop devices,
// exfatprogs and exfat-fuse; where any is missing, failure() says why and nothing is mounted.
class ExfatMount {
  public:
    ExfatMount();
    ~ExfatMount();
    ExfatMount(const ExfatMount&) = delete;
    ExfatMount& operator=(const ExfatMount&) = delete;

    [[nodiscard]] const std::string& failure() const { return failure_; }
    [[nodiscard]] std::filesystem::path path() const { return scratch_.path() / "stick"; }

    // Stops and resumes the file system's daemon: every access waits meanwhile, as on a stick
    // or a share that stopped answering.
    void freeze();
    void thaw();

  private:
    TempFolder scratch_;
    std::string loop_;
    std::unique_ptr<Process> daemon_;
    bool mounted_ = false;
    std::string failure_;
};

[[nodiscard]] std::vector<char> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);
// Names of everything in a folder (not descending), sorted.
[[nodiscard]] std::vector<std::string> listFolder(const std::filesystem::path& folder);

}  // namespace zavoket::test
