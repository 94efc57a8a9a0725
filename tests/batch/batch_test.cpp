#include "batch/batch_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

#include "batch/state_messages.h"
#include "local_batch.h"
#include "misbehaviour.h"
#include "platform/temporary_names.h"
#include "sample_server.h"
#include "support/held_server.h"
#include "support/scratch.h"
#include "support/stores.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::listFolder;

const char* const kFinished = "終了しました";
const char* const kAborted = "中止しました";
const char* const kErrorText = "コンピュータとの通信中にエラーが発生しました。";

class BatchRunTest : public ::testing::Test {
  protected:
    [[nodiscard]] fs::path fileOf(std::size_t index, const fs::path& where = {}) const {
        return (where.empty() ? folder.path() : where) / run.app.catalogue().localName(index);
    }
    [[nodiscard]] bool holdsServedBytes(std::size_t index, const fs::path& where = {}) const {
        return fs::is_regular_file(fs::symlink_status(fileOf(index, where))) &&
               std::ranges::equal(test::readText(fileOf(index, where)), collection.bytes(index));
    }
    // Runs action on the batch's thread while the server holds the response for entry index,
    // once that entry is the file in transfer, as a click then would; the response goes on
    // afterwards. The request comes a file early, behind the one before.
    void during(std::size_t index, std::function<void()> action) {
        server.hold("/" + collection.urlPath(index), [=, this] { whenInTransfer(index, action); });
    }
    void whenInTransfer(std::size_t index, std::function<void()> action) {
        run.waiter.post([=, this] {
            if (view.label3 != std::to_string(index + 1) + "/194") {
                return whenInTransfer(index, action);
            }
            action();
            server.release();
        });
    }

    const sample::Collection collection{sample::Profile::Small, 7};
    test::HeldServer server{collection};
    test::TempFolder folder;
    test::SlowNamingStore store;
    harness::LocalBatch run{server.baseUrl(),
                            folder.str(),
                            {{}, {.connectTimeout = 2s, .idleTimeout = 1s}, {}, &store}};
    harness::RecordingView& view = run.view;
    BatchRun& batch = run.batch;
};

struct AbortCase {
    const char* name;
    std::size_t at;   // the file in transfer when the stop button is clicked
    bool slowNaming;  // that file takes a while to get its name
};

class AbortTest : public BatchRunTest, public ::testing::WithParamInterface<AbortCase> {};

INSTANTIATE_TEST_SUITE_P(During, AbortTest,
                         ::testing::Values(AbortCase{"TheFifthFile", 4, false},
                                           AbortCase{"AFileSlowToBeNamed", 5, true},
                                           AbortCase{"TheLastFile", 193, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(AbortTest, StopsRightAfterThatFileOnceItHasItsName) {
    const std::size_t at = GetParam().at;
    store.slowName = GetParam().slowNaming ? run.app.catalogue().localName(at) : "-";
    during(at, [this] {
        EXPECT_TRUE(view.image3Visible && view.timer1Enabled) << "the disk does not move";
        batch.abort();
    });
    view.onLabel2 = [&](const std::string& text) {
        if (text == kAborted || text == kFinished) {
            EXPECT_TRUE(holdsServedBytes(at)) << "the ending came before the file's name";
        }
    };
    const std::clock_t before = std::clock();  // the process's processor time
    batch.start();
    // Waiting for a file's name sleeps: a spinning wait would burn the 300 ms it takes.
    EXPECT_TRUE(!GetParam().slowNaming || std::clock() - before < CLOCKS_PER_SEC / 5);

    EXPECT_EQ(view.label2, at == 193 ? kFinished : kAborted);
    EXPECT_TRUE(view.label11Visible);
    EXPECT_FALSE(view.timer1Enabled || view.image3Visible);
    EXPECT_EQ(listFolder(folder.path()).size(), at + 1);
    // The two files behind may have been asked for; nothing of them is left.
    EXPECT_TRUE(server.paths().size() >= at + 1 && server.paths().size() <= at + 3);
}

TEST_F(BatchRunTest, UnknownStatesLeaveTheLastKnownOneShownAndOnlyAnErrorAsksToStop) {
    for (const std::int16_t state : {0, 13, -1}) {  // 0 has a sentence of its own
        batch.onStateChange(state);
    }
    EXPECT_EQ(view.sb, "状態についての報告はありません。");
    EXPECT_EQ(batch.abortFlag(), 0);
    batch.onStateChange(11);
    EXPECT_EQ(view.sb, kErrorText);
    EXPECT_EQ(batch.abortFlag(), -1);
    batch.start();  // a stop asked for while idle is forgotten at the next start
    EXPECT_EQ(view.label2, kFinished);
}

// What the folder went through before the batch: nothing more than the fixture's, a whole first
// batch (its copies stand, with the server's times, and file 0 then spoilt), it is a folder on a
// read-only volume, or it is a disk too small for the collection.
enum class Before { Nothing, FirstBatch, ReadOnly, SmallDisk };

struct AnswerCase {
    const char* name;
    sample::Misbehaviour answer;  // instead of the files below, or of every clip when none
    std::vector<std::size_t> files;
    const char* label3;
    const char* label2;  // none: some files failed
    const char* sb;      // none: not looked at
    std::size_t saved;   // entries in the folder afterwards; 0: some files, not all
    Before before = Before::Nothing;
};

class AnswerTest : public BatchRunTest, public ::testing::WithParamInterface<AnswerCase> {};

// What school networks send for file 2 (a picture with an old copy that is not one) and file 3
// (a clip): both saved whole all the same, both refused, or the connection breaks at file 2.
using M = sample::Misbehaviour;
// clang-format off
AnswerCase kept(const char* name, M answer) {
    return {name, answer, {2, 3}, "194/194", "終了しました（失敗 1 件）", "保存できなかったファイル: 1202-A.jpg", 194};
}
AnswerCase refused(const char* name, M answer) {
    return {name, answer, {2, 3}, "194/194", "終了しました（失敗 3 件）",
            "保存できなかったファイル: 1102-2-A.jpg, 1103-1.mpg, 1202-A.jpg", 193};
}
AnswerCase breaks(const char* name, M answer) { return {name, answer, {2, 3}, "3/194", kAborted, kErrorText, 4}; }

INSTANTIATE_TEST_SUITE_P(Server, AnswerTest, ::testing::Values(
    AnswerCase{"ErrorPages", M::NotFound, {2, 6, 7, 8}, "194/194", "終了しました（失敗 5 件）",
               "保存できなかったファイル: 1102-2-A.jpg, 1202-A.jpg, 1301-1-A.jpg, 1301-2-A.jpg, 1302-1-A.mpg", 191},
    AnswerCase{"EveryClipMissing", M::ServerError, {}, "194/194", "終了しました（失敗 124 件）",
               "保存できなかったファイル: 1103-1.mpg, 1202-A.jpg, 1302-1-A.mpg, 1302-2-A.mpg, 1302-3-A.mpg ほか 119 件", 71},
    AnswerCase{"NoServer", M::None, {}, "1/194", kAborted, kErrorText, 2},
    AnswerCase{"AnUpToDateFolder", M::None, {}, "194/194", "終了しました（失敗 1 件）",
               "保存できなかったファイル: 1202-A.jpg", 194, Before::FirstBatch},
    AnswerCase{"FilesChangedOnTheServer", M::Changed, {7, 150}, "194/194", "終了しました（失敗 1 件）",
               "保存できなかったファイル: 1202-A.jpg", 194, Before::FirstBatch},
    AnswerCase{"AReadOnlyFolder", M::None, {}, "194/194", "終了しました（失敗 194 件）",
               "保存できなかったファイル: 1101-A.jpg, 1102-1-A.jpg, 1102-2-A.jpg, 1103-1.mpg, 1201-A.jpg ほか 189 件", 3,
               Before::ReadOnly},
    AnswerCase{"AFullDisk", M::None, {}, "194/194", nullptr, nullptr, 0, Before::SmallDisk},
    AnswerCase{"APictureThatIsAGif", M::NotAJpeg, {2, 3}, "194/194", "終了しました（失敗 2 件）",
               "保存できなかったファイル: 1102-2-A.jpg, 1202-A.jpg", 194},
    kept("ARedirectToTheFile", M::RedirectToFile), kept("ASlowDrip", M::SlowDrip), kept("UnaskedGzip", M::Gzip),
    refused("ARedirectToNothing", M::RedirectToNothing), refused("NoContent", M::NoContent),
    refused("ACaptivePortal", M::Portal), refused("TheFileAsAWebPage", M::WebPage), refused("AnEmptyOk", M::EmptyOk),
    refused("AWebPage", M::Markup), refused("TextAfterABlankLine", M::TextBody),
    refused("EndlessErrorPages", M::EndlessError), refused("NotModifiedUnasked", M::NotModified),
    breaks("ALengthNeverReached", M::LongerLengthThenClose), breaks("CutChunks", M::CutChunks)),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_P(AnswerTest, NothingButTheFilesIsSavedAndTheEndingSaysWhatFailed) {
    const AnswerCase& answer = GetParam();
    std::optional<test::Tmpfs> disk;  // the folder itself, or a read-only one in it
    if (answer.before == Before::ReadOnly || answer.before == Before::SmallDisk) {
        const bool readOnly = answer.before == Before::ReadOnly;
        view.dir = (folder.path() / (readOnly ? "ro" : "")).string();
        fs::create_directories(view.dir);
        if (!disk.emplace(view.dir, readOnly ? "64k" : "160k", readOnly).failure().empty()) {
            GTEST_SKIP() << disk->failure();
        }
    }
    test::writeFile(fileOf(2), "good copy from an earlier batch");
    fs::create_directory(fileOf(5));  // a folder in the way: that file cannot get its name
    const auto fault = [&](const httplib::Request& request, httplib::Response& response) {
        const long index = collection.find(request.path);
        const bool everyClip = answer.files.empty() && answer.before == Before::Nothing;
        return index >= 0 &&
               (everyClip ? request.path.ends_with(".mpg")
                          : std::ranges::count(answer.files, index)) &&
               (sample::answerAs(answer.answer, collection, index, request, response), true);
    };
    if (answer.answer == M::None && answer.before == Before::Nothing) {
        harness::LocalServer gone(collection);
        view.turl = gone.baseUrl();  // where nothing listens any more
    }
    std::map<std::size_t, ino_t> standing;  // the copies of the first batch, by their inodes
    struct stat info {};
    if (answer.before == Before::FirstBatch) {
        batch.start();
        test::writeFile(fileOf(0),
                        "not a picture");  // with the server's time: asked for all the same
        const timespec times[2] = {{0, UTIME_OMIT}, {sample::kServedModified, 0}};
        ::utimensat(AT_FDCWD, fileOf(0).c_str(), times, 0);
        for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
            standing[i] =
                ::stat(fileOf(i).c_str(), &info) == 0 && S_ISREG(info.st_mode) ? info.st_ino : 0;
        }
    }
    server.setFault(fault);
    batch.start();

    EXPECT_EQ(view.label3, answer.label3);
    EXPECT_TRUE(answer.label2 ? view.label2 == answer.label2
                              : view.label2.starts_with("終了しました（失敗 "))
        << view.label2;
    EXPECT_TRUE(!answer.sb || view.sb == answer.sb) << view.sb;
    EXPECT_EQ(view.label11Visible, answer.label2 == kAborted);
    const auto names = listFolder(folder.path());
    EXPECT_TRUE(answer.saved ? names.size() == answer.saved
                             : names.size() > 3 && names.size() < 194)
        << names.size();
    EXPECT_TRUE(std::ranges::none_of(names, isStoreTemporaryName));
    if (answer.label2 != kAborted && answer.before != Before::ReadOnly) {
        // The file behind the one in transfer may have its own, where no answer or full disk
        // broke one.
        EXPECT_TRUE(answer.files.size() == 2 || answer.before == Before::SmallDisk ||
                    server.connectionCount() <= 2);
        // Requests go in catalogue order, which is not name order: these places must stay.
        // clang-format off
        const std::map<std::size_t, std::string> kPlaces = {
            {0, "/1101/1101-A.jpg"}, {21, "/1309/1309-A.jpg"}, {22, "/1309/1309-1-A.mpg"}, {100, "/1707/1707-5.mpg"},
            {114, "/1715/1715-1.mpg"}, {116, "/1714/1714-1.mpg"}, {160, "/4202/4202-1-1.mpg"}, {193, "/5104/5104-2.mpg"}};
        // clang-format on
        for (const auto& [index, path] : kPlaces) {
            EXPECT_EQ("/" + collection.urlPath(index), path);
        }
        // Three are under way at a time, on two connections: the server may take one up to
        // two places early or late.
        auto paths = server.paths();
        std::erase_if(paths, [this](const auto& path) { return collection.find(path) < 0; });
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const auto place =
                static_cast<long>(i % Catalogue::kSize);  // of this batch or the first
            EXPECT_LE(std::abs(collection.find(paths[i]) - place), 2) << paths[i];
        }
    }
    // Whatever stands under a catalogue name is the file as served, or the copy from before.
    for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
        EXPECT_TRUE(i == 5 || !fs::exists(fileOf(i)) || holdsServedBytes(i) ||
                    (i == 2 && test::readText(fileOf(2)) == "good copy from an earlier batch"))
            << i;
    }
    EXPECT_TRUE(answer.before != Before::ReadOnly || server.paths().empty())
        << "a folder that cannot take files is not worth a request";
    // Only the files changed on the server, and a copy that cannot be the file, come again;
    // every other copy stands as it was, with the server's time.
    for (const auto& [index, inode] : standing) {
        const bool again = index == 0 || std::ranges::count(answer.files, index) > 0;
        EXPECT_TRUE(inode == 0 ||
                    (::stat(fileOf(index).c_str(), &info) == 0 && (info.st_ino != inode) == again &&
                     (info.st_mtime > sample::kServedModified) == (again && index != 0)))
            << index;
        EXPECT_TRUE(inode == 0 || holdsServedBytes(index)) << index;
    }
    EXPECT_EQ(store.closedOnBatchThread, 0);
    EXPECT_TRUE(answer.before != Before::FirstBatch || view.refreshes == 2 * 194) << "304s";
}

}  // namespace
}  // namespace zavoket
