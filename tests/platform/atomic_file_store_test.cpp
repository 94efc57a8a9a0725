#include "platform/atomic_file_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using test::listFolder;
using test::readFile;

std::vector<char> chars(std::string_view text) { return {text.begin(), text.end()}; }

class AtomicFileStoreTest : public ::testing::Test {
protected:
    std::error_code save(const fs::path& path, std::string_view bytes) {
        return store.save(path.string(), std::span<const char>(bytes.data(), bytes.size()));
    }

    test::TempFolder folder;
    AtomicFileStore store;
};

TEST_F(AtomicFileStoreTest, WritesNewFilesAndReplacesLongerOnesExactly) {
    const fs::path file = folder.path() / "1101-A.jpg";
    EXPECT_FALSE(save(file, "a longer first version"));
    EXPECT_FALSE(save(file, "short"));
    EXPECT_EQ(readFile(file), chars("short"));
    EXPECT_FALSE(save(file, ""));
    EXPECT_EQ(fs::file_size(file), 0u);
    EXPECT_EQ(listFolder(folder.path()), std::vector<std::string>{"1101-A.jpg"});
}

TEST_F(AtomicFileStoreTest, ALinkUnderTheNameIsReplacedNotFollowed) {
    test::TempFolder outside;
    const fs::path target = outside.path() / "target";
    test::writeFile(target, "keep me");
    const fs::path link = folder.path() / "1102-1-A.jpg";
    fs::create_symlink(target, link);

    EXPECT_FALSE(save(link, "new bytes"));
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(readFile(link), chars("new bytes"));
    EXPECT_EQ(readFile(target), chars("keep me"));
}

TEST_F(AtomicFileStoreTest, FailuresLeaveTheFolderAsItWas) {
    EXPECT_TRUE(save(folder.path() / "missing" / "1103-1.mpg", "bytes"));

    // A folder standing under the name cannot be replaced by a file.
    fs::create_directory(folder.path() / "1201-A.jpg");
    EXPECT_TRUE(save(folder.path() / "1201-A.jpg", "bytes"));
    EXPECT_TRUE(fs::is_directory(folder.path() / "1201-A.jpg"));

    EXPECT_TRUE(save(folder.path() / "", "bytes"));
    EXPECT_EQ(listFolder(folder.path()), std::vector<std::string>{"1201-A.jpg"});
}

TEST_F(AtomicFileStoreTest, DoubledSeparatorsAreHarmless) {
    EXPECT_FALSE(store.save(folder.str() + "//" + "1202-A.jpg", std::span<const char>("x", 1)));
    EXPECT_EQ(readFile(folder.path() / "1202-A.jpg"), chars("x"));
}

}  // namespace
}  // namespace zavoket
