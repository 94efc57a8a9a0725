#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

[[nodiscard]] std::vector<char> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);
// Names of everything in a folder (not descending), sorted.
[[nodiscard]] std::vector<std::string> listFolder(const std::filesystem::path& folder);

}  // namespace zavoket::test
