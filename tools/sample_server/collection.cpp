#include "collection.h"

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "catalogue/catalogue.h"

namespace zavoket::sample {
namespace {

std::uint64_t splitmix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::uint64_t hashName(const std::string& name, std::uint64_t seed) {
    std::uint64_t h = splitmix(seed);
    for (unsigned char c : name) {
        h = splitmix(h ^ c);
    }
    return h;
}

// Uniform in [0, 1) from a hash.
double unit(std::uint64_t h) {
    return static_cast<double>(h >> 11) * 0x1.0p-53;
}

// 5 x 7 glyphs, one byte a row, the top five bits used.
const std::array<std::uint8_t, 7>* glyph(char c) {
    static const std::array<std::array<std::uint8_t, 7>, 12> kGlyphs = {{
        {0x70, 0x88, 0x98, 0xA8, 0xC8, 0x88, 0x70},  // 0
        {0x20, 0x60, 0x20, 0x20, 0x20, 0x20, 0x70},  // 1
        {0x70, 0x88, 0x08, 0x10, 0x20, 0x40, 0xF8},  // 2
        {0xF8, 0x10, 0x20, 0x10, 0x08, 0x88, 0x70},  // 3
        {0x10, 0x30, 0x50, 0x90, 0xF8, 0x10, 0x10},  // 4
        {0xF8, 0x80, 0xF0, 0x08, 0x08, 0x88, 0x70},  // 5
        {0x30, 0x40, 0x80, 0xF0, 0x88, 0x88, 0x70},  // 6
        {0xF8, 0x08, 0x10, 0x20, 0x40, 0x40, 0x40},  // 7
        {0x70, 0x88, 0x88, 0x70, 0x88, 0x88, 0x70},  // 8
        {0x70, 0x88, 0x88, 0x78, 0x08, 0x10, 0x60},  // 9
        {0x00, 0x00, 0x00, 0xF8, 0x00, 0x00, 0x00},  // -
        {0x70, 0x88, 0x88, 0xF8, 0x88, 0x88, 0x88},  // A
    }};
    if (c >= '0' && c <= '9') {
        return &kGlyphs[static_cast<std::size_t>(c - '0')];
    }
    if (c == '-') {
        return &kGlyphs[10];
    }
    if (c == 'A') {
        return &kGlyphs[11];
    }
    return nullptr;
}

struct CompressDeleter {
    void operator()(jpeg_compress_struct* info) const {
        jpeg_destroy_compress(info);
        delete info;
    }
};

void insertComments(std::vector<char>& jpeg, std::size_t minBytes) {
    // Comment segments right after the start-of-image marker: viewers skip them.
    constexpr std::size_t kMaxPayload = 65533;
    std::vector<char> padding;
    std::size_t missing = minBytes > jpeg.size() ? minBytes - jpeg.size() : 0;
    while (missing > 0) {
        std::size_t segment = std::min(missing, kMaxPayload + 4);
        if (segment < 4) {
            segment = 4;  // the smallest segment: overshoot by up to three bytes
        } else if (missing - segment > 0 && missing - segment < 4) {
            segment -= 4;  // leave a remainder that still fits a segment
        }
        const std::size_t length = segment - 2;
        padding.push_back(static_cast<char>(0xFF));
        padding.push_back(static_cast<char>(0xFE));
        padding.push_back(static_cast<char>(length >> 8));
        padding.push_back(static_cast<char>(length & 0xFF));
        padding.insert(padding.end(), segment - 4, ' ');
        missing -= std::min(missing, segment);
    }
    jpeg.insert(jpeg.begin() + 2, padding.begin(), padding.end());
}

}  // namespace

std::vector<char> renderJpeg(const std::string& text, int width, int height, std::uint32_t rgb,
                             int noise, std::uint64_t seed, std::size_t minBytes) {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
    const int red = static_cast<int>((rgb >> 16) & 0xFF);
    const int green = static_cast<int>((rgb >> 8) & 0xFF);
    const int blue = static_cast<int>(rgb & 0xFF);
    std::uint64_t state = seed;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int jitter = 0;
            if (noise > 0) {
                state = splitmix(state);
                jitter =
                    static_cast<int>(state % static_cast<std::uint64_t>(2 * noise + 1)) - noise;
            }
            unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<unsigned char>(std::clamp(red + jitter, 0, 255));
            p[1] = static_cast<unsigned char>(std::clamp(green + jitter, 0, 255));
            p[2] = static_cast<unsigned char>(std::clamp(blue + jitter, 0, 255));
        }
    }
    // The text in white, as large as fits across the middle.
    const int cell = 6;
    const int scale =
        std::max(1, std::min(width / (static_cast<int>(text.size()) * cell + 2), height / 9));
    const int left = (width - static_cast<int>(text.size()) * cell * scale) / 2;
    const int top = (height - 7 * scale) / 2;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto* rows = glyph(text[i]);
        if (rows == nullptr) {
            continue;
        }
        for (int gy = 0; gy < 7 * scale; ++gy) {
            for (int gx = 0; gx < 5 * scale; ++gx) {
                if (((*rows)[static_cast<std::size_t>(gy / scale)] << (gx / scale)) & 0x80) {
                    const int x = left + static_cast<int>(i) * cell * scale + gx;
                    const int y = top + gy;
                    if (x >= 0 && x < width && y >= 0 && y < height) {
                        unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
                        p[0] = p[1] = p[2] = 255;
                    }
                }
            }
        }
    }

    std::unique_ptr<jpeg_compress_struct, CompressDeleter> info(new jpeg_compress_struct{});
    jpeg_error_mgr errors{};
    info->err = jpeg_std_error(&errors);
    jpeg_create_compress(info.get());
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(info.get(), &buffer, &size);
    info->image_width = static_cast<JDIMENSION>(width);
    info->image_height = static_cast<JDIMENSION>(height);
    info->input_components = 3;
    info->in_color_space = JCS_RGB;
    jpeg_set_defaults(info.get());
    jpeg_set_quality(info.get(), 85, TRUE);
    jpeg_start_compress(info.get(), TRUE);
    while (info->next_scanline < info->image_height) {
        JSAMPROW row = &pixels[static_cast<std::size_t>(info->next_scanline) * width * 3];
        jpeg_write_scanlines(info.get(), &row, 1);
    }
    jpeg_finish_compress(info.get());
    std::vector<char> jpeg(reinterpret_cast<char*>(buffer), reinterpret_cast<char*>(buffer) + size);
    std::free(buffer);
    insertComments(jpeg, minBytes);
    return jpeg;
}

bool parseProfile(std::string_view text, Profile& profile) {
    if (text == "small") {
        profile = Profile::Small;
    } else if (text == "full") {
        profile = Profile::Full;
    } else if (text == "tiny") {
        profile = Profile::Tiny;
    } else {
        return false;
    }
    return true;
}

Collection::Collection(Profile profile, std::uint64_t seed) : seed_(seed) {
    Catalogue catalogue;
    catalogue.fill();
    for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
        const std::string& name = catalogue.localName(i);
        const std::uint64_t h = hashName(name, seed);
        const bool picture = name.ends_with(".jpg");
        std::uint64_t length = 0;
        std::vector<char> jpeg;
        if (picture) {
            const std::string label = name.substr(0, name.size() - 4);
            const auto rgb = static_cast<std::uint32_t>(splitmix(h) & 0x7F7F7F);
            switch (profile) {
                case Profile::Tiny:
                    jpeg = renderJpeg(label, 32, 24, rgb, 0, h, 1024);
                    break;
                case Profile::Small:
                    jpeg = renderJpeg(label, 160, 120, rgb, 4, h,
                                      2048 + static_cast<std::size_t>(unit(h) * 4096));
                    break;
                case Profile::Full:
                    jpeg = renderJpeg(label, 640, 480, rgb, 6, h,
                                      50'000 + static_cast<std::size_t>(unit(h) * 250'000));
                    break;
            }
            length = jpeg.size();
        } else {
            switch (profile) {
                case Profile::Tiny:
                    length = 1024;
                    break;
                case Profile::Small:
                    length = 2048 + static_cast<std::uint64_t>(unit(h) * 6144);
                    break;
                case Profile::Full:
                    // Mean about 3.5 MB, so that the collection comes to about 450 MB.
                    length = 1'000'000 +
                             static_cast<std::uint64_t>(std::pow(unit(h), 1.35) * 6'000'000.0);
                    break;
            }
        }
        names_.push_back(name);
        lengths_.push_back(length);
        pictures_.push_back(std::move(jpeg));
    }
}

std::string Collection::urlPath(std::size_t index) const {
    const std::string& n = names_.at(index);
    return n.substr(0, 4) + "/" + n;
}

std::uint64_t Collection::totalLength() const {
    std::uint64_t total = 0;
    for (auto length : lengths_) {
        total += length;
    }
    return total;
}

long Collection::find(std::string_view path) const {
    if (path.starts_with('/')) {
        path.remove_prefix(1);
    }
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (path == urlPath(i)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

void Collection::read(std::size_t index, std::uint64_t offset, std::span<char> out) const {
    if (offset + out.size() > lengths_.at(index)) {
        throw std::out_of_range("read past the end of a sample file");
    }
    const auto& picture = pictures_[index];
    if (!picture.empty()) {
        std::copy_n(picture.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
        return;
    }
    // Clip bytes: word k of the item is a hash of (item, k), so any range can be computed.
    const std::uint64_t base = hashName(names_[index], seed_);
    for (std::size_t i = 0; i < out.size();) {
        const std::uint64_t position = offset + i;
        const std::uint64_t word = splitmix(base + position / 8);
        const std::size_t shift = position % 8;
        const std::size_t take = std::min<std::size_t>(8 - shift, out.size() - i);
        for (std::size_t b = 0; b < take; ++b) {
            out[i + b] = static_cast<char>((word >> (8 * (shift + b))) & 0xFF);
        }
        i += take;
    }
    // An MPEG program stream starts with a pack header.
    static constexpr char kPackStart[4] = {0, 0, 1, static_cast<char>(0xBA)};
    for (std::uint64_t p = offset; p < 4 && p < offset + out.size(); ++p) {
        out[p - offset] = kPackStart[p];
    }
}

std::vector<char> Collection::bytes(std::size_t index) const {
    std::vector<char> out(lengths_.at(index));
    read(index, 0, out);
    return out;
}

void Collection::writeTo(const std::string& folder) const {
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < size(); ++i) {
        const std::filesystem::path path = std::filesystem::path(folder) / urlPath(i);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (std::uint64_t offset = 0; offset < length(i);) {
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), length(i) - offset));
            read(i, offset, std::span<char>(chunk.data(), n));
            out.write(chunk.data(), static_cast<std::streamsize>(n));
            offset += n;
        }
        if (!out) {
            throw std::runtime_error("could not write " + path.string());
        }
    }
}

}  // namespace zavoket::sample
