#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zavoket::sample {

enum class Profile {
    Small,  // a few KB a file: for tests
    Full,   // realistic: pictures 50 to 300 KB, clips 1 to 7 MB, about 450 MB in all
    Tiny,   // 1 KB a file: for measuring the cost per request
};

// A stand-in for the teaching collection, deterministic from its seed: the pictures are real
// JPEG images showing their item number, the clips are MPEG-flavoured noise. Clip bytes are
// computed on demand, so the full collection never sits in memory.
class Collection {
  public:
    Collection(Profile profile, std::uint64_t seed);

    [[nodiscard]] std::size_t size() const { return names_.size(); }
    [[nodiscard]] const std::string& name(std::size_t index) const { return names_.at(index); }
    // "1101/1101-A.jpg": where the item is served below the server's root.
    [[nodiscard]] std::string urlPath(std::size_t index) const;
    [[nodiscard]] std::uint64_t length(std::size_t index) const { return lengths_.at(index); }
    [[nodiscard]] std::uint64_t totalLength() const;

    // The item whose urlPath is path ("/1101/1101-A.jpg" or without the leading "/"), or -1.
    [[nodiscard]] long find(std::string_view path) const;

    // Fills out with bytes [offset, offset + out.size()) of the item.
    void read(std::size_t index, std::uint64_t offset, std::span<char> out) const;
    [[nodiscard]] std::vector<char> bytes(std::size_t index) const;

    // Writes every item to folder/FOLDER/NAME, so another server can serve the collection.
    void writeTo(const std::string& folder) const;

  private:
    std::uint64_t seed_;
    std::vector<std::string> names_;
    std::vector<std::uint64_t> lengths_;
    std::vector<std::vector<char>> pictures_;  // empty for clips
};

[[nodiscard]] bool parseProfile(std::string_view text, Profile& profile);

// A JPEG image of width x height showing text on a field of the given colour, padded with
// comment segments to at least minBytes. Exposed for tests.
[[nodiscard]] std::vector<char> renderJpeg(const std::string& text, int width, int height,
                                           std::uint32_t rgb, int noise, std::uint64_t seed,
                                           std::size_t minBytes);

}  // namespace zavoket::sample
