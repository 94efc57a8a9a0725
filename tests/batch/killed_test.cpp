#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "catalogue/catalogue.h"
#include "platform/atomic_file_store.h"
#include "platform/temporary_names.h"
#include "support/held_server.h"
#include "support/scratch.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A destination as users leave them: old versions of some files, a link under one catalogue
// name that points out of the folder, and a file of their own.
struct Destination {
    test::TempFolder folder;
    test::TempFolder outside;
    std::map<std::string, std::string> old;  // catalogue name -> old bytes
    std::string linkName;                    // empty where the file system has no links (exFAT)

    explicit Destination(const Catalogue& catalogue, const fs::path& base = {}) : folder(base) {
        for (std::size_t i = 0; i < Catalogue::kSize; i += 7) {
            const std::string& name = catalogue.localName(i);
            test::writeFile(folder.path() / name, old[name] = "old version of " + name);
        }
        linkName = catalogue.localName(45);
        test::writeFile(outside.path() / "target.txt", "outside the folder");
        std::error_code noLinks;
        fs::create_symlink(outside.path() / "target.txt", folder.path() / linkName, noLinks);
        linkName = noLinks ? "" : linkName;
        test::writeFile(folder.path() / "my notes.txt", "the teacher's own file");
    }

    // Fails the test where a file that must have been received lacks the bytes served, or
    // anything else is not as it was before the batch.
    void check(const Catalogue& catalogue, const sample::Collection& served,
               const std::function<bool(std::size_t)>& received) const {
        std::set<std::string> expected = {"my notes.txt"};
        for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
            const std::string& name = catalogue.localName(i);
            const fs::path file = folder.path() / name;
            const bool isLink = fs::is_symlink(fs::symlink_status(file));
            const bool exists = fs::exists(fs::symlink_status(file));
            if (received(i)) {
                EXPECT_TRUE(exists && !isLink && test::readFile(file) == served.bytes(i))
                    << name << " lacks the bytes served";
            } else if (name == linkName) {
                EXPECT_TRUE(isLink && fs::read_symlink(file) == outside.path() / "target.txt")
                    << name;
            } else {
                EXPECT_EQ(exists ? test::readText(file) : "",
                          old.contains(name) ? old.at(name) : "")
                    << name << " was changed";
            }
            if (exists) {
                expected.insert(name);
            }
        }
        const auto names = test::listFolder(folder.path());
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
        EXPECT_EQ(test::readText(outside.path() / "target.txt"), "outside the folder");
        EXPECT_EQ(test::listFolder(outside.path()).size(), 1u);
        EXPECT_EQ(test::readText(folder.path() / "my notes.txt"), "the teacher's own file");
    }
};

struct KillCase {
    const char* name;
    int signal;
    bool named;          // received under a temporary name even where unnamed files exist
    bool exfat;          // on a real exFAT file system, which has no unnamed files
    bool leavesTheName;  // only the next use of the folder clears the temporary name away
};

class KilledMidBodyTest : public ::testing::TestWithParam<KillCase> {};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Endings, KilledMidBodyTest, ::testing::Values(
    KillCase{"SigkillUnnamed", SIGKILL, false, false, false}, KillCase{"SigtermNamed", SIGTERM, true, false, false},
    KillCase{"SigintOnExfat", SIGINT, false, true, false}, KillCase{"SighupNamedOnExfat", SIGHUP, true, true, false},
    KillCase{"SigkillOnExfat", SIGKILL, false, true, true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_P(KilledMidBodyTest, LeavesOnlyWholeFilesAndNoTemporaryName) {
    const KillCase& kill = GetParam();
    std::optional<test::ExfatStick> stick;
    if (kill.exfat && !stick.emplace().failure().empty()) {
        GTEST_SKIP() << "no exFAT file system here: " << stick->failure();
    }
    Catalogue catalogue;
    catalogue.fill();
    const sample::Collection collection(sample::Profile::Small, 99);
    test::HeldServer server(collection);
    const Destination destination(catalogue, stick ? stick->path() : fs::path());

    // File 40 arrives in part, then the server waits: the child is writing it when killed.
    std::promise<void> halfway;
    server.hold(
        "/" + collection.urlPath(40), [&] { halfway.set_value(); }, true);
    std::vector<std::string> argv = {ZAVOKET_BATCH, "--url", server.baseUrl(), "--folder",
                                     destination.folder.str()};
    if (kill.named) {
        argv.emplace_back("--named");
    }
    test::Process child(argv);
    ASSERT_EQ(halfway.get_future().wait_for(20s), std::future_status::ready);
    // File 40 is asked for behind file 39: the child waits in file 40 once 39 has its name.
    for (int i = 0; i < 400 && !fs::exists(destination.folder.path() / catalogue.localName(39));
         ++i) {
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(50ms);  // let the bytes reach the disk
    EXPECT_TRUE(child.end(kill.signal));

    const auto names = test::listFolder(destination.folder.path());
    // The file in transfer, and the one behind it where it has begun.
    const auto left = std::count_if(names.begin(), names.end(), isStoreTemporaryName);
    EXPECT_TRUE(kill.leavesTheName ? left == 1 || left == 2 : left == 0) << left;
    if (kill.leavesTheName) {
        AtomicFileStore store;  // the folder's next use
        EXPECT_TRUE(store.prepare(destination.folder.str(), "x")->restart(""));
    }
    destination.check(catalogue, collection, [](std::size_t index) { return index < 40; });
}

}  // namespace
}  // namespace zavoket
