#include "collection.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"

namespace zavoket::sample {
namespace {

bool looksLikeJpeg(const std::vector<char>& bytes) {
    return bytes.size() > 4 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xD8 &&
           static_cast<unsigned char>(bytes[bytes.size() - 2]) == 0xFF &&
           static_cast<unsigned char>(bytes.back()) == 0xD9;
}

TEST(SampleCollectionTest, TheSameSeedGivesTheSameBytesAndAnotherSeedOthers) {
    const Collection a(Profile::Small, 5);
    const Collection b(Profile::Small, 5);
    const Collection c(Profile::Small, 6);
    ASSERT_EQ(a.size(), 194u);
    for (std::size_t i : {0u, 3u, 193u}) {
        EXPECT_EQ(a.bytes(i), b.bytes(i));
        EXPECT_NE(a.bytes(i), c.bytes(i));
    }
}

TEST(SampleCollectionTest, AnyRangeReadsAsThePartOfTheWhole) {
    const Collection collection(Profile::Small, 5);
    for (std::size_t i : {0u, 3u}) {
        const auto whole = collection.bytes(i);
        std::vector<char> part(1001);
        collection.read(i, 13, part);
        EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + 13));
    }
    std::vector<char> past(1);
    EXPECT_THROW(collection.read(0, collection.length(0), past), std::out_of_range);
}

TEST(SampleCollectionTest, ProfilesHaveTheirSizesAndPicturesAreJpegs) {
    const Collection tiny(Profile::Tiny, 1);
    const Collection small(Profile::Small, 1);
    const Collection full(Profile::Full, 1);
    for (std::size_t i = 0; i < 194; ++i) {
        const bool picture = full.name(i).ends_with(".jpg");
        EXPECT_EQ(tiny.length(i), 1024u) << tiny.name(i);
        EXPECT_GE(small.length(i), 2048u);
        EXPECT_LE(small.length(i), 8192u);
        if (picture) {
            EXPECT_TRUE(looksLikeJpeg(small.bytes(i))) << small.name(i);
            EXPECT_GE(full.length(i), 50'000u);
            EXPECT_LE(full.length(i), 300'000u);
        } else {
            EXPECT_GE(full.length(i), 1'000'000u);
            EXPECT_LE(full.length(i), 7'000'000u);
        }
    }
    EXPECT_NEAR(static_cast<double>(full.totalLength()), 450e6, 45e6);
}

TEST(SampleCollectionTest, ItemsAreFoundByTheirServedPath) {
    const Collection collection(Profile::Small, 1);
    EXPECT_EQ(collection.urlPath(0), "1101/1101-A.jpg");
    EXPECT_EQ(collection.find("/1101/1101-A.jpg"), 0);
    EXPECT_EQ(collection.find("5104/5104-2.mpg"), 193);
    EXPECT_EQ(collection.find("/1101/1101-B.jpg"), -1);
}

TEST(SampleCollectionTest, WrittenCollectionMatchesWhatIsServed) {
    const Collection collection(Profile::Small, 2);
    test::TempFolder folder;
    collection.writeTo(folder.str());
    for (std::size_t i = 0; i < collection.size(); ++i) {
        EXPECT_EQ(test::readFile(folder.path() / collection.urlPath(i)), collection.bytes(i));
    }
}

}  // namespace
}  // namespace zavoket::sample
