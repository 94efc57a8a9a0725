// Turns a text pixel map into a Windows icon file: each "size N" block of N lines of N
// characters becomes one image of N x N pixels in 16 colours with a transparency mask.
//
//   zavoket-icongen INPUT.txt OUTPUT.ico [--png SIZE OUTPUT.png]...
//
// --png also writes a PNG of SIZE x SIZE pixels for desktop icon themes, from the largest image
// that fits: each of its pixels becomes a whole square of pixels, never a blur, and what the
// squares leave over is a transparent margin around the picture.
//
// The characters name the 16 standard colours; "." is transparent. Lines starting with "#"
// are comments.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

struct Colour {
    char key;
    std::uint8_t red, green, blue;
};

// The palette's order is the file's palette order; index 0 (black) also fills transparent pixels.
constexpr Colour kPalette[16] = {
    {'k', 0, 0, 0},       {'r', 128, 0, 0},   {'g', 0, 128, 0},   {'o', 128, 128, 0},
    {'n', 0, 0, 128},     {'p', 128, 0, 128}, {'t', 0, 128, 128}, {'s', 192, 192, 192},
    {'d', 128, 128, 128}, {'R', 255, 0, 0},   {'G', 0, 255, 0},   {'Y', 255, 255, 0},
    {'B', 0, 0, 255},     {'M', 255, 0, 255}, {'C', 0, 255, 255}, {'w', 255, 255, 255},
};

struct Image {
    int size = 0;
    std::vector<std::string> rows;
};

int paletteIndex(char key) {
    for (int i = 0; i < 16; ++i) {
        if (kPalette[i].key == key) {
            return i;
        }
    }
    return -1;
}

void put16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(v >> 16));
}

std::string bitmap(const Image& image) {
    const int n = image.size;
    const int xorStride = ((n * 4 + 31) / 32) * 4;
    const int andStride = ((n + 31) / 32) * 4;
    std::string out;
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(n));
    put32(out, static_cast<std::uint32_t>(2 * n));  // colour rows, then mask rows
    put16(out, 1);
    put16(out, 4);
    put32(out, 0);
    put32(out, static_cast<std::uint32_t>((xorStride + andStride) * n));
    put32(out, 0);
    put32(out, 0);
    put32(out, 16);
    put32(out, 0);
    for (const Colour& c : kPalette) {
        out.push_back(static_cast<char>(c.blue));
        out.push_back(static_cast<char>(c.green));
        out.push_back(static_cast<char>(c.red));
        out.push_back('\0');
    }
    for (int y = n - 1; y >= 0; --y) {  // bottom row first
        std::string row(static_cast<std::size_t>(xorStride), '\0');
        for (int x = 0; x < n; ++x) {
            const char key = image.rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            const int index = key == '.' ? 0 : paletteIndex(key);
            row[static_cast<std::size_t>(x / 2)] |=
                static_cast<char>(x % 2 == 0 ? index << 4 : index);
        }
        out += row;
    }
    for (int y = n - 1; y >= 0; --y) {
        std::string row(static_cast<std::size_t>(andStride), '\0');
        for (int x = 0; x < n; ++x) {
            if (image.rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] == '.') {
                row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
            }
        }
        out += row;
    }
    return out;
}

bool parse(std::istream& in, std::vector<Image>& images, std::string& error) {
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line.rfind("size ", 0) == 0) {
            Image image;
            image.size = std::stoi(line.substr(5));
            if (image.size <= 0 || image.size > 255) {
                error = "line " + std::to_string(lineNumber) + ": bad size";
                return false;
            }
            images.push_back(image);
            continue;
        }
        if (images.empty() || static_cast<int>(images.back().rows.size()) >= images.back().size) {
            error = "line " + std::to_string(lineNumber) + ": pixels outside a size block";
            return false;
        }
        if (static_cast<int>(line.size()) != images.back().size) {
            error = "line " + std::to_string(lineNumber) + ": wrong width";
            return false;
        }
        for (char key : line) {
            if (key != '.' && paletteIndex(key) < 0) {
                error = "line " + std::to_string(lineNumber) + ": unknown colour '" + key + "'";
                return false;
            }
        }
        images.back().rows.push_back(line);
    }
    for (const Image& image : images) {
        if (static_cast<int>(image.rows.size()) != image.size) {
            error = "an image of size " + std::to_string(image.size) + " is incomplete";
            return false;
        }
    }
    if (images.empty()) {
        error = "no image";
        return false;
    }
    return true;
}

void putBigEndian(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
    }
}

void pngChunk(std::string& out, const char* type, const std::string& data) {
    const std::string typed = type + data;
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    out += typed;
    putBigEndian(out,
                 static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(typed.data()),
                                                    static_cast<uInt>(typed.size()))));
}

// An RGBA PNG of size x size pixels, each source pixel scaled by a whole factor and centred.
std::string png(const Image& image, int size) {
    const int scale = size / image.size;
    const int margin = (size - scale * image.size) / 2;
    auto pixel = [&](int y, int x) {
        const int row = (y - margin) / scale;
        const int column = (x - margin) / scale;
        return y < margin || x < margin || row >= image.size || column >= image.size
                   ? '.'
                   : image.rows[row][column];
    };
    std::string raw;
    for (int y = 0; y < size; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < size; ++x) {
            const int index = paletteIndex(pixel(y, x));
            const Colour c = index < 0 ? Colour{'.', 0, 0, 0} : kPalette[index];
            raw += {static_cast<char>(c.red), static_cast<char>(c.green), static_cast<char>(c.blue),
                    static_cast<char>(index < 0 ? 0 : 255)};
        }
    }
    uLongf packedSize = ::compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    ::compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()), 9);
    packed.resize(packedSize);
    std::string header;
    putBigEndian(header, static_cast<std::uint32_t>(size));
    putBigEndian(header, static_cast<std::uint32_t>(size));
    header += {8, 6, 0, 0, 0};  // 8 bits a channel, RGBA, deflate, no filter, no interlace
    std::string out = "\x89PNG\r\n\x1a\n";
    pngChunk(out, "IHDR", header);
    pngChunk(out, "IDAT", packed);
    pngChunk(out, "IEND", "");
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (argc - 3) % 3 != 0) {
        std::cerr << "usage: zavoket-icongen INPUT.txt OUTPUT.ico [--png SIZE OUTPUT.png]...\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    std::vector<Image> images;
    std::string error;
    if (!in || !parse(in, images, error)) {
        std::cerr << argv[1] << ": " << (in ? error : "cannot read") << "\n";
        return 1;
    }
    std::string header;
    put16(header, 0);
    put16(header, 1);
    put16(header, static_cast<std::uint16_t>(images.size()));
    std::string data;
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (const Image& image : images) {
        const std::string bits = bitmap(image);
        header.push_back(static_cast<char>(image.size));
        header.push_back(static_cast<char>(image.size));
        header.push_back(16);
        header.push_back(0);
        put16(header, 1);
        put16(header, 4);
        put32(header, static_cast<std::uint32_t>(bits.size()));
        put32(header, offset);
        offset += static_cast<std::uint32_t>(bits.size());
        data += bits;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << header << data;
    if (!out) {
        return 1;
    }
    for (int i = 3; i + 2 < argc; i += 3) {
        const int size = std::atoi(argv[i + 1]);
        const Image* source = nullptr;
        for (const Image& image : images) {
            if (image.size <= size && (!source || image.size > source->size)) {
                source = &image;
            }
        }
        if (std::string(argv[i]) != "--png" || source == nullptr) {
            std::cerr << argv[1] << ": no image scales whole to " << argv[i + 1] << " pixels\n";
            return 1;
        }
        std::ofstream picture(argv[i + 2], std::ios::binary | std::ios::trunc);
        picture << png(*source, size);
        if (!picture) {
            return 1;
        }
    }
    return 0;
}
