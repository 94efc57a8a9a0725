#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

namespace zavoket {
namespace {

class CatalogueTest : public ::testing::Test {
  protected:
    void SetUp() override { catalogue.fill(); }
    Catalogue catalogue;
};

TEST_F(CatalogueTest, KnownSlotsHoldTheirNamesAndPaths) {
    EXPECT_EQ(catalogue.localName(0), "1101-A.jpg");
    EXPECT_EQ(catalogue.remotePath(0), "1101\\1101-A.jpg");
    EXPECT_EQ(catalogue.localName(100), "1707-5.mpg");
    EXPECT_EQ(catalogue.remotePath(100), "1707\\1707-5.mpg");
    EXPECT_EQ(catalogue.localName(193), "5104-2.mpg");
    EXPECT_EQ(catalogue.remotePath(193), "5104\\5104-2.mpg");
}

TEST_F(CatalogueTest, OrderKeepsItsUnsortedPlaces) {
    // Download order is not name order: these pairs must stay as they are.
    EXPECT_EQ(catalogue.localName(21), "1309-A.jpg");
    EXPECT_EQ(catalogue.localName(22), "1309-1-A.mpg");
    EXPECT_EQ(catalogue.localName(114), "1715-1.mpg");
    EXPECT_EQ(catalogue.localName(116), "1714-1.mpg");
    EXPECT_EQ(catalogue.localName(160), "4202-1-1.mpg");
}

TEST_F(CatalogueTest, EveryEntryFollowsTheNamingRules) {
    std::set<std::string> names;
    std::set<std::string> folders;
    int pictures = 0;
    int clips = 0;
    for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
        const std::string& name = catalogue.localName(i);
        SCOPED_TRACE(name);
        EXPECT_EQ(catalogue.remotePath(i), name.substr(0, 4) + "\\" + name);
        EXPECT_EQ(name.find_first_of("/\\"), std::string::npos);
        EXPECT_GE(name.size(), 10u);
        EXPECT_LE(name.size(), 12u);
        pictures += name.ends_with(".jpg");
        clips += name.ends_with(".mpg");
        names.insert(name);
        folders.insert(name.substr(0, 4));
    }
    EXPECT_EQ(pictures, 71);
    EXPECT_EQ(clips, 123);
    EXPECT_EQ(names.size(), 194u);
    EXPECT_EQ(folders.size(), 97u);
}

TEST_F(CatalogueTest, IndexPastTheEndIsABoundsError) {
    EXPECT_THROW((void)catalogue.localName(194), std::out_of_range);
    EXPECT_THROW((void)catalogue.remotePath(194), std::out_of_range);
    EXPECT_THROW((void)catalogue.localName(static_cast<std::size_t>(-1)), std::out_of_range);
}

}  // namespace
}  // namespace zavoket
