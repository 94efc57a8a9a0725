#include "platform/atomic_file_store.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "support/temp_folder.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using test::listFolder;
using test::readFile;

std::vector<char> chars(std::string_view text) {
    return {text.begin(), text.end()};
}

class AtomicFileStoreTest : public ::testing::Test {
  protected:
    // Receives bytes in the folder and names the file path.
    std::error_code save(const fs::path& folder, const fs::path& path, std::string_view bytes) {
        auto file = store.prepare(folder.string());
        EXPECT_TRUE(file->restart(""));
        // In two parts, as a body arrives.
        EXPECT_TRUE(file->append(std::span<const char>(bytes.data(), bytes.size() / 2)));
        EXPECT_TRUE(file->append(std::span<const char>(bytes.data() + bytes.size() / 2,
                                                       bytes.size() - bytes.size() / 2)));
        if (!file->complete()) {
            return std::make_error_code(std::errc::io_error);
        }
        return file->commit(path.string());
    }
    std::error_code save(const fs::path& path, std::string_view bytes) {
        return save(path.parent_path(), path, bytes);
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

TEST_F(AtomicFileStoreTest, NothingShowsBeforeCommitAndAnUncommittedFileLeavesNoTrace) {
    {
        auto file = store.prepare(folder.str());
        EXPECT_TRUE(file->restart(""));
        EXPECT_TRUE(file->append(std::span<const char>("partial", 7)));
        EXPECT_TRUE(listFolder(folder.path()).empty());
    }
    EXPECT_TRUE(listFolder(folder.path()).empty());

    auto file = store.prepare(folder.str());
    EXPECT_TRUE(file->restart(""));
    EXPECT_TRUE(file->append(std::span<const char>("first response", 14)));
    EXPECT_TRUE(file->restart(""));  // a redirect's final response starts the body afresh
    EXPECT_TRUE(file->append(std::span<const char>("final", 5)));
    EXPECT_TRUE(file->complete());
    EXPECT_FALSE(file->commit(folder.str() + "/1102-1-A.jpg"));
    EXPECT_EQ(readFile(folder.path() / "1102-1-A.jpg"), chars("final"));
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
    EXPECT_TRUE(save(folder.path() / "missing", folder.path() / "1200-A.jpg", "bytes"));

    // A folder standing under the name cannot be replaced by a file.
    fs::create_directory(folder.path() / "1201-A.jpg");
    EXPECT_TRUE(save(folder.path() / "1201-A.jpg", "bytes"));
    EXPECT_TRUE(fs::is_directory(folder.path() / "1201-A.jpg"));

    // The destination vanished while the file was coming in.
    fs::create_directory(folder.path() / "gone");
    EXPECT_TRUE(save(folder.path(), folder.path() / "gone" / "x" / "1202-A.jpg", "bytes"));
    EXPECT_TRUE(save(folder.path() / "", "bytes"));
    EXPECT_EQ(listFolder(folder.path()), (std::vector<std::string>{"1201-A.jpg", "gone"}));
}

TEST_F(AtomicFileStoreTest, AFileCanBeNamedInAnotherFolderThanItCameInto) {
    // The user may open another folder while a file is in transfer.
    fs::create_directory(folder.path() / "later");
    EXPECT_FALSE(save(folder.path(), folder.path() / "later" / "1203-A.jpg", "moved"));
    EXPECT_EQ(readFile(folder.path() / "later" / "1203-A.jpg"), chars("moved"));
    EXPECT_EQ(listFolder(folder.path()), std::vector<std::string>{"later"});

    const fs::path stick = folder.path() / "stick";
    fs::create_directory(stick);
    if (::mount("zavoket-store", stick.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs for another volume: " << std::strerror(errno);
    }
    struct Unmount {
        fs::path point;
        ~Unmount() { ::umount2(point.c_str(), MNT_DETACH); }
    } unmount{stick};
    test::writeFile(stick / "1204-A.jpg", "old on the stick");
    EXPECT_FALSE(save(folder.path(), stick / "1204-A.jpg", "copied across volumes"));
    EXPECT_EQ(readFile(stick / "1204-A.jpg"), chars("copied across volumes"));
    EXPECT_EQ(listFolder(stick), std::vector<std::string>{"1204-A.jpg"});
    EXPECT_EQ(listFolder(folder.path()), (std::vector<std::string>{"later", "stick"}));
}

TEST_F(AtomicFileStoreTest, LeftoversOfAKilledRunAreClearedAway) {
    // A process id above the kernel's limit names a process that cannot be running.
    const std::string dead = ".zavoket-99999999-3-1234.part";
    const std::string mine = ".zavoket-" + std::to_string(::getpid()) + "-3-1234.part";
    for (const auto& name : {dead, mine, std::string("notes.part")}) {
        test::writeFile(folder.path() / name, "x");
    }
    EXPECT_TRUE(store.prepare(folder.str())->restart(""));
    EXPECT_EQ(listFolder(folder.path()), (std::vector<std::string>{mine, "notes.part"}));
}

}  // namespace
}  // namespace zavoket
