#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace zavoket {

// The fixed list of files one batch fetches, in download order. Two parallel tables, as the
// window keeps them: the bare local file name, and the path relative to the base URL
// ("1101\1101-A.jpg": the item number's folder, a backslash, the local name).
class Catalogue {
  public:
    static constexpr std::size_t kSize = 194;

    // Writes every slot: local names first, then remote paths. Called once at start-up.
    void fill();

    // Both throw std::out_of_range for an index outside 0..193.
    [[nodiscard]] const std::string& localName(std::size_t index) const;
    [[nodiscard]] const std::string& remotePath(std::size_t index) const;

  private:
    std::array<std::string, kSize> localNames_;
    std::array<std::string, kSize> remotePaths_;
};

}  // namespace zavoket
