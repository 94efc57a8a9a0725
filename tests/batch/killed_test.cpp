#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <future>
#include <map>
#include <optional>
#include <thread>

#include "batch/batch_run.h"
#include "platform/atomic_file_store.h"
#include "platform/temporary_names.h"
#include "support/held_server.h"
#include "support/scratch.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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
    const sample::Collection collection(sample::Profile::Small, 99);
    test::HeldServer server(collection);
    const test::TempFolder folder(stick ? stick->path() : fs::path());
    // Old versions of every seventh file, and a file of the teacher's own.
    std::map<std::string, std::string> expected = {{"my notes.txt", "the teacher's own file"}};
    for (std::size_t i = 0; i < collection.size(); i += 7) {
        expected[collection.name(i)] = "old version";
    }
    for (const auto& [name, bytes] : expected) {
        test::writeFile(folder.path() / name, bytes);
    }

    // File 40 arrives in part, then the server waits: the child is writing it when killed.
    std::promise<void> halfway;
    server.hold(
        "/" + collection.urlPath(40), [&] { halfway.set_value(); }, true);
    std::vector<std::string> argv = {ZAVOKET_BATCH, "--url", server.baseUrl(), "--folder",
                                     folder.str()};
    kill.named ? void(argv.emplace_back("--named")) : void();
    test::Process child(argv);
    ASSERT_EQ(halfway.get_future().wait_for(20s), std::future_status::ready);
    // File 40 is asked for behind file 39: the child waits in file 40 once 39 has its name.
    for (int i = 0; i < 400 && !fs::exists(folder.path() / collection.name(39)); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(50ms);  // let the bytes reach the disk
    EXPECT_TRUE(child.end(kill.signal));

    const auto names = test::listFolder(folder.path());
    // The file in transfer, and those asked for behind it where they have begun.
    const auto left = std::count_if(names.begin(), names.end(), isStoreTemporaryName);
    EXPECT_TRUE(kill.leavesTheName ? left >= 1 && left <= 1 + static_cast<long>(BatchRun::kAhead)
                                   : left == 0)
        << left;
    if (kill.leavesTheName) {
        AtomicFileStore store;  // the folder's next use
        EXPECT_TRUE(store.prepare(folder.str(), "x")->restart(""));
    }
    // Files 0 to 39 whole as served, everything else as it was, and no other name.
    for (std::size_t i = 0; i < 40; ++i) {
        const auto bytes = collection.bytes(i);
        expected[collection.name(i)].assign(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(test::listFolder(folder.path()).size(), expected.size());
    for (const auto& [name, bytes] : expected) {
        EXPECT_TRUE(test::readText(folder.path() / name) == bytes) << name;
    }
}

}  // namespace
}  // namespace zavoket
