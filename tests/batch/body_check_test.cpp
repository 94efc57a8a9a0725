#include "batch/body_check.h"

#include <gtest/gtest.h>

#include "support/stores.h"

#include <string>
#include <vector>

namespace zavoket {
namespace {

using namespace std::string_literals;

TEST(BodyCheckTest, OnlyWhatCanBeTheCatalogueFileGoesThroughWhole) {
    const struct {
        const char* name;
        const char* type;
        std::vector<std::string> parts;  // "" restarts, as a redirect's final response does
        bool picture;
        bool kept;
    } kRows[] = {
        // clang-format off
        {"a picture in pieces", "image/jpeg", {"\xFF", "\xD8", "\xFF\xE0rest"}, true, true},
        {"a clip with markup later on", "video/mpeg", {"G@\x11", "<later"}, false, true},
        {"a clip of two bytes", "", {"\x00\x01"s}, false, true},
        {"a clip that starts with a blank", "video/mpeg", {" \x90\x00"s, "\x01"s}, false, true},
        {"a clip that starts like markup", "", {"<\x01\xFF"s}, false, true},
        {"a program stream", "video/mpeg", {"\x00\x00\x01\xBA"s}, false, true},
        {"a transport stream", "video/mp2t", {"G@\x11\x10"}, false, true},
        {"an MP4 clip", "", {"\x00\x00\x00\x18" "ftypmp42"s}, false, true},
        {"a picture with EXIF", "image/jpeg", {"\xFF\xD8\xFF\xE1", "Exif"}, true, true},
        {"a clip with a byte no UTF-8 starts with", "", {"abc\x80"}, false, true},
        {"a clip with a broken UTF-8 sequence", "", {"\xC3(abc"}, false, true},
        {"a web filter's text", "text/plain", {"\x00\x00\x01\xBA"s}, false, false},
        {"an error in JSON", "application/json ; charset=utf-8", {"\x00\x00\x01\xBA"s}, false, false},
        {"an untyped text", "", {"404 Not Found"}, false, false},
        {"an untyped Japanese text", "", {"アクセスが拒否されました（フィルタ）。\n"}, false, false},
        {"an untyped text with the edges of UTF-8, cut off", "", {"Blocked \xC2\xA9 \xDF\xBF \xE0\xA0\x80 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF \xE3\x81"}, false, false},
        {"untyped XML", "", {"<?xml version=\"1.0\"?>\x01"s}, false, false},
        {"an untyped page in Latin-1", "", {"<html><body>Acc\xE8s refus\xE9</body></html>"}, false, false},
        {"a picture of two bytes", "image/jpeg", {"\xFF\xD8"}, true, false},
        {"a web page by its type", " Text/HTML ; charset=UTF-8", {"\xFF\xD8\xFF"}, true, false},
        {"an XHTML page by its type", "application/xhtml+xml", {"G@\x11"}, false, false},
        {"a redirect's body", "image/jpeg", {"<h", "", "\xFF\xD8\xFF\xDB"}, true, true},
        {"a clip just long enough to judge", "", {std::string(kStandingHeadBytes, '\0')}, false, true},
        // clang-format on
    };
    for (const auto& row : kRows) {
        test::MemoryFile file;
        CatalogueBodyCheck check(file, row.picture);
        bool taken = check.restart(row.type);
        std::string expected;
        for (const std::string& part : row.parts) {
            taken = taken && (part.empty() ? check.restart(row.type) : check.append(part));
            expected = part.empty() ? "" : expected + part;
        }
        // Once its head can be judged, a body goes on to its file as it comes.
        const bool judged = taken && expected.size() >= kStandingHeadBytes;
        EXPECT_EQ(file.bytes.size(), judged ? expected.size() : 0) << row.name;
        EXPECT_EQ(taken && check.complete(), row.kept) << row.name;
        EXPECT_EQ(file.bytes, row.kept ? expected : file.bytes) << row.name;
    }
}

}  // namespace
}  // namespace zavoket
