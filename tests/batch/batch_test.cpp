#include "batch/batch_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

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
    // afterwards. The request comes a file early, behind the one before. midBody: the response
    // waits once half the body is sent, and the rest never comes.
    void during(std::size_t index, std::function<void()> action, bool midBody = false) {
        server.hold(
            "/" + collection.urlPath(index), [=, this] { whenInTransfer(index, action); }, midBody);
    }
    void whenInTransfer(std::size_t index, std::function<void()> action) {
        run.queue.post([=, this] {
            if (view.number != index + 1) {
                return whenInTransfer(index, action);
            }
            action();
            server.release();
        });
    }
    // The names of the files the ending counts as failed, the first five of them.
    [[nodiscard]] std::string firstFailed() const {
        std::string names;
        for (std::size_t i = 0; i < view.ending->failed.size() && i < 5; ++i) {
            names += (i > 0 ? ", " : "") + run.app.catalogue().localName(view.ending->failed[i]);
        }
        return names;
    }

    // What the answer table's server saw: its handlers may run until it stops, after a case.
    std::mutex mutex;
    std::set<long> answered;  // the files that had their answer
    int ranged = 0;           // requests for the rest of a file
    std::atomic<int> inFlight{0};
    const sample::Collection collection{sample::Profile::Small, 7};
    test::HeldServer server{collection};
    test::TempFolder folder;
    test::SlowNamingStore store;
    harness::LocalBatch run{
        server.baseUrl(),
        folder.str(),
        {.transfer = {.connectTimeout = 5s, .idleTimeout = 5s, .firstPause = 50ms},
         .store = &store}};
    harness::RecordingView& view = run.view;
    BatchRun& batch = run.batch;
};

using M = sample::Misbehaviour;

struct StopCase {
    const char* name;
    std::size_t at;           // the file in transfer when the stop button is clicked
    bool slowNaming = false;  // that file takes a while to get its name
    bool breaks = false;      // its link breaks after the stop, and would be tried again
    bool inPause = false;     // the link of it and of the next breaks at every try; the stop comes
                              // in the pause before another
};

class StopTest : public BatchRunTest, public ::testing::WithParamInterface<StopCase> {};

INSTANTIATE_TEST_SUITE_P(
    During, StopTest,
    ::testing::Values(
        StopCase{.name = "TheFifthFile", .at = 4},
        StopCase{.name = "AFileSlowToBeNamed", .at = 5, .slowNaming = true},
        StopCase{.name = "TheLastFile", .at = 193},
        StopCase{.name = "ALinkThatBreaksAfterIt", .at = 7, .breaks = true},
        StopCase{.name = "APauseBeforeAnotherTry", .at = 6, .breaks = true, .inPause = true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(StopTest, StopsRightAfterThatFileOnceItHasItsName) {
    const auto [name, at, slowNaming, breaks, inPause] = GetParam();
    store.slowName = slowNaming ? run.app.catalogue().localName(at) : "-";
    const std::string path = "/" + collection.urlPath(at);
    const std::string next = "/" + collection.urlPath(std::min<std::size_t>(at + 1, 193));
    const auto click = [this] {
        EXPECT_TRUE(view.moving) << "the disk does not move";
        batch.start();  // ignored during a run
        batch.stop();
    };
    if (inPause) {
        server.setFault([this, at = at](const auto& request, auto& response) {
            const auto index = static_cast<std::size_t>(collection.find(request.path));
            return (index == at || index == at + 1) &&
                   (sample::answerAs(M::HalfThenReset, collection, index, request, response), true);
        });
        view.onRetry = [this] { run.queue.post([this] { batch.stop(); }); };  // a click then
    } else {
        during(at, click, breaks);
    }
    view.onEnding = [&] {
        EXPECT_EQ(holdsServedBytes(at), !breaks) << "the ending came before the name";
    };
    // The process's processor time while the file takes 300 ms to get its name: waiting for a
    // name sleeps, where a spinning wait would burn all of it.
    std::atomic<std::clock_t> naming{0};
    store.whileNaming = [&naming] {
        const std::clock_t before = std::clock();
        std::this_thread::sleep_for(300ms);
        naming = std::clock() - before;
    };
    ASSERT_TRUE(run.runToEnd());
    EXPECT_LT(naming, CLOCKS_PER_SEC / 5);

    EXPECT_EQ(view.ending->stopped, at != 193);
    EXPECT_TRUE(view.stopNoted && !view.moving && view.endings == 1);
    EXPECT_EQ(view.number, at + 1);
    EXPECT_EQ(listFolder(folder.path()).size(), at + !breaks);
    // No pause is waited out, of the file in transfer or of the one behind it; a slow machine
    // may see one more try before the stop lands.
    EXPECT_TRUE(std::ranges::count(server.paths(), path) < (inPause ? 4 : 2) &&
                std::ranges::count(server.paths(), next) < 4)
        << "pauses waited out";
    // Those behind may have been asked for; nothing of them is left.
    EXPECT_TRUE(server.paths().size() >= at + 1 &&
                server.paths().size() <= at + 1 + BatchRun::kAhead);
}

TEST_F(BatchRunTest, AStopAskedForWhileIdleIsForgottenAtTheNextStart) {
    batch.stop();
    view.onEnding = [this] { EXPECT_EQ(view.saved, 194) << "the ending before the last name"; };
    ASSERT_TRUE(run.runToEnd());
    EXPECT_FALSE(view.ending->stopped);
    EXPECT_EQ(view.number, 194u);
    // Every file in transfer shows its states, also one whose request ended while behind.
    EXPECT_EQ(view.completions, 194);
}

// What the folder went through before the batch: nothing more than the fixture's, a whole first
// batch (its copies stand, with the server's times, and file 0 then spoilt), it is a folder on a
// read-only volume, or it is a disk too small for the collection.
enum class Before { Nothing, FirstBatch, ReadOnly, SmallDisk };

struct AnswerCase {
    const char* name;
    sample::Misbehaviour answer;          // instead of the files below, or of every clip when none
    std::vector<std::size_t> files = {};  // with M::None: their copies cut short, times kept
    std::size_t reached = 194;            // the number of the last file in transfer
    bool stopped = false;                 // by the broken connection, which fails its file
    std::size_t failures = 0;             // npos: some, not looked at
    const char* firstFailed = "";         // their names, the first five
    std::size_t saved = 194;  // entries in the folder afterwards; 0: some files, not all
    Before before = Before::Nothing;
    bool once = false;           // the answer comes only to the first request for each file
    bool oneConnection = false;  // the server answers one request at a time, a 503 to others
    bool repeats = false;        // some requests are made again: their order is not looked at
    bool fat = false;            // the folder is a FAT32 stick, which keeps times to 2 s
    std::size_t opened = 0;      // another folder is opened while this file is in transfer
};

class AnswerTest : public BatchRunTest, public ::testing::WithParamInterface<AnswerCase> {};

// What school networks send for file 2 (a picture with an old copy that is not one) and file 3
// (a clip): both saved whole all the same, both refused, or the connection breaks at file 2.
constexpr auto kSome = std::string::npos;
AnswerCase kept(const char* name, M answer) {
    return {.name = name,
            .answer = answer,
            .files = {2, 3},
            .failures = 1,
            .firstFailed = "1202-A.jpg"};
}
AnswerCase refused(const char* name, M answer) {
    return {.name = name,
            .answer = answer,
            .files = {2, 3},
            .failures = 3,
            .firstFailed = "1102-2-A.jpg, 1103-1.mpg, 1202-A.jpg",
            .saved = 193};
}
AnswerCase breaks(const char* name, M answer) {
    return {.name = name,
            .answer = answer,
            .files = {2, 3},
            .reached = 3,
            .stopped = true,
            .failures = 1,
            .firstFailed = "1102-2-A.jpg",
            .saved = 4};
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Server, AnswerTest, ::testing::Values(
    AnswerCase{.name = "ErrorPages", .answer = M::NotFound, .files = {2, 6, 7, 8}, .failures = 5,
               .firstFailed = "1102-2-A.jpg, 1202-A.jpg, 1301-1-A.jpg, 1301-2-A.jpg, 1302-1-A.mpg", .saved = 191},
    AnswerCase{.name = "EveryClipMissing", .answer = M::ServerError, .failures = 124,
               .firstFailed = "1103-1.mpg, 1202-A.jpg, 1302-1-A.mpg, 1302-2-A.mpg, 1302-3-A.mpg", .saved = 71},
    AnswerCase{.name = "NoServer", .answer = M::None, .reached = 1, .stopped = true, .failures = 1, .firstFailed = "1101-A.jpg", .saved = 2},
    AnswerCase{.name = "AnUpToDateFolder", .answer = M::None, .failures = 1, .firstFailed = "1202-A.jpg", .before = Before::FirstBatch},
    AnswerCase{.name = "FilesChangedOnTheServer", .answer = M::Changed, .files = {7, 150}, .failures = 1,
               .firstFailed = "1202-A.jpg", .before = Before::FirstBatch},
    AnswerCase{.name = "AFat32Stick", .answer = M::None, .failures = 1, .firstFailed = "1202-A.jpg", .before = Before::FirstBatch, .fat = true},
    AnswerCase{.name = "CopiesCutShortOnFat32", .answer = M::None, .files = {9, 10, 11, 40, 41}, .failures = 1,
               .firstFailed = "1202-A.jpg", .before = Before::FirstBatch, .fat = true},
    AnswerCase{.name = "AFolderOpenedMidBatch", .answer = M::None, .failures = 1, .firstFailed = "1202-A.jpg", .before = Before::FirstBatch, .opened = 50},
    AnswerCase{.name = "AReadOnlyFolder", .answer = M::None, .failures = 194,
               .firstFailed = "1101-A.jpg, 1102-1-A.jpg, 1102-2-A.jpg, 1103-1.mpg, 1201-A.jpg", .saved = 3,
               .before = Before::ReadOnly},
    AnswerCase{.name = "AFullDisk", .answer = M::None, .failures = kSome, .saved = 0, .before = Before::SmallDisk},
    AnswerCase{.name = "APictureThatIsAGif", .answer = M::NotAJpeg, .files = {2, 3}, .failures = 2, .firstFailed = "1102-2-A.jpg, 1202-A.jpg"},
    kept("ARedirectToTheFile", M::RedirectToFile), kept("ASlowDrip", M::SlowDrip), kept("UnaskedGzip", M::Gzip),
    refused("ARedirectToNothing", M::RedirectToNothing), refused("NoContent", M::NoContent),
    refused("ACaptivePortal", M::Portal), refused("TheFileAsAWebPage", M::WebPage), refused("AnEmptyOk", M::EmptyOk),
    refused("AWebPage", M::Markup), refused("TextAfterABlankLine", M::TextBody),
    refused("EndlessErrorPages", M::EndlessError), refused("NotModifiedUnasked", M::NotModified),
    breaks("ALengthNeverReached", M::LongerLengthThenClose), breaks("CutChunks", M::CutChunks),
    // A link that drops, answers out of step, a server that takes one connection: every file.
    AnswerCase{.name = "AResetLinkResumes", .answer = M::HalfThenReset, .files = {2, 3}, .failures = 1,
               .firstFailed = "1202-A.jpg", .once = true, .repeats = true},
    AnswerCase{.name = "AnUnaskedTimeout", .answer = M::Extra, .files = {2, 3}, .failures = 1, .firstFailed = "1202-A.jpg", .repeats = true},
    AnswerCase{.name = "TheSameAnswerTwice", .answer = M::ExtraSame, .files = {2, 21}, .failures = 1,
               .firstFailed = "1202-A.jpg", .repeats = true},
    AnswerCase{.name = "AServerOfOneConnection", .answer = M::None, .failures = 1, .firstFailed = "1202-A.jpg",
               .oneConnection = true, .repeats = true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_P(AnswerTest, NothingButTheFilesIsSavedAndTheEndingSaysWhatFailed) {
    const AnswerCase& answer = GetParam();
    std::optional<test::Tmpfs> disk;  // the folder itself, or a read-only one in it
    if (answer.before == Before::ReadOnly || answer.before == Before::SmallDisk) {
        const bool readOnly = answer.before == Before::ReadOnly;
        view.folder = (folder.path() / (readOnly ? "ro" : "")).string();
        fs::create_directories(view.folder);
        if (!disk.emplace(view.folder, readOnly ? "64k" : "160k", readOnly).failure().empty()) {
            GTEST_SKIP() << disk->failure();
        }
    }
    std::optional<test::ExfatStick> stick;  // mounted over the folder
    if (answer.fat &&
        !stick.emplace(64, fs::temp_directory_path(), true, folder.path()).failure().empty()) {
        GTEST_SKIP() << "no FAT32 stick here: " << stick->failure();
    }
    test::writeFile(fileOf(2), "good copy from an earlier batch");
    fs::create_directory(fileOf(5));  // a folder in the way: that file cannot get its name
    const auto fault = [&](const httplib::Request& request, httplib::Response& response) {
        const long index = collection.find(request.path);
        std::lock_guard lock(mutex);
        ranged += index >= 0 && request.has_header("Range");
        if (answer.oneConnection && index >= 0) {
            if (inFlight.fetch_add(1) > 0) {
                return --inFlight, response.status = 503, true;
            }
            const auto bytes = collection.bytes(static_cast<std::size_t>(index));
            response.set_content_provider(
                bytes.size(), "application/octet-stream",
                [=](auto offset, auto length, auto& sink) {
                    return sink.write(bytes.data() + offset, length);
                },
                [this](bool) { --inFlight; });
            return true;
        }
        const bool everyClip = answer.files.empty() && answer.before == Before::Nothing;
        return index >= 0 && answer.answer != M::None &&
               (everyClip ? request.path.ends_with(".mpg")
                          : std::ranges::count(answer.files, index)) &&
               (!answer.once || answered.insert(index).second) &&
               (sample::answerAs(answer.answer, collection, index, request, response), true);
    };
    // Where nothing answers, nothing listens any more.
    const bool nothing = answer.answer == M::None && answer.before == Before::Nothing;
    nothing && !answer.oneConnection ? server.stop() : void();
    std::map<std::size_t, bool> standing;  // whether a copy of the first batch stands
    struct stat info {};
    if (answer.before == Before::FirstBatch) {
        ASSERT_TRUE(run.runToEnd());
        test::writeFile(fileOf(0),
                        "not a picture");  // with the server's time: asked for all the same
        const timespec times[2] = {{0, UTIME_OMIT}, {sample::kServedModified, 0}};
        ::utimensat(AT_FDCWD, fileOf(0).c_str(), times, 0);
        for (std::size_t i : answer.answer == M::None ? answer.files : std::vector<std::size_t>{}) {
            ::stat(fileOf(i).c_str(), &info);  // cut short, its time kept
            ::truncate(fileOf(i).c_str(), static_cast<off_t>(collection.length(i) / 2));
            const timespec kept[2] = {{0, UTIME_OMIT}, info.st_mtim};
            ::utimensat(AT_FDCWD, fileOf(i).c_str(), kept, 0);
        }
        for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
            standing[i] = ::stat(fileOf(i).c_str(), &info) == 0 && S_ISREG(info.st_mode);
        }
    }
    server.setFault(fault);
    const test::TempFolder other;
    answer.opened > 0 ? during(answer.opened, [&] { view.folder = other.str(); }) : void();
    ASSERT_TRUE(run.runToEnd());
    for (std::size_t i = answer.opened; answer.opened > 0 && i < Catalogue::kSize; ++i) {
        EXPECT_TRUE(holdsServedBytes(i, other.path())) << "not in the folder opened: " << i;
    }
    EXPECT_EQ(std::ranges::count(view.causes, FailureCause::DiskFull) > 0,
              answer.before == Before::SmallDisk);

    EXPECT_EQ(view.number, answer.reached);
    EXPECT_EQ(view.ending->stopped, answer.stopped);
    EXPECT_EQ(view.state == ConnectionState::Error, answer.stopped);
    EXPECT_TRUE(answer.failures == kSome ? view.ending->failed.size() > 0
                                         : view.ending->failed.size() == answer.failures)
        << view.ending->failed.size();
    EXPECT_TRUE(answer.failures == kSome || firstFailed() == answer.firstFailed) << firstFailed();
    EXPECT_EQ(view.causes.size(), view.ending->failed.size());
    EXPECT_EQ(ranged, answer.answer == M::HalfThenReset ? 2 : 0);
    const auto names = listFolder(folder.path());
    EXPECT_TRUE(answer.saved ? names.size() == answer.saved
                             : names.size() > 3 && names.size() < 194)
        << names.size();
    EXPECT_TRUE(std::ranges::none_of(names, isStoreTemporaryName));
    if (!answer.stopped && answer.before != Before::ReadOnly && !answer.repeats) {
        // Never more connections than the cap, but where an answer or a full disk broke one.
        EXPECT_TRUE(answer.files.size() == 2 || answer.before == Before::SmallDisk ||
                    server.connectionCount() <= 4);
        // Requests go in catalogue order, which is not name order: these places must stay.
        // clang-format off
        const std::map<std::size_t, std::string> kPlaces = {
            {0, "/1101/1101-A.jpg"}, {21, "/1309/1309-A.jpg"}, {22, "/1309/1309-1-A.mpg"}, {100, "/1707/1707-5.mpg"},
            {114, "/1715/1715-1.mpg"}, {116, "/1714/1714-1.mpg"}, {160, "/4202/4202-1-1.mpg"}, {193, "/5104/5104-2.mpg"}};
        // clang-format on
        for (const auto& [index, path] : kPlaces) {
            EXPECT_EQ("/" + collection.urlPath(index), path);
        }
        // Up to four are under way at a time: the server may take one up to four places early
        // or late. A rerun asks for the bodies of a few only.
        auto paths = server.paths();
        std::erase_if(paths, [this](const auto& path) { return collection.find(path) < 0; });
        for (std::size_t i = 0; i < std::min(paths.size(), Catalogue::kSize); ++i) {
            EXPECT_LE(std::abs(collection.find(paths[i]) - static_cast<long>(i)), 4) << paths[i];
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
    const auto asked = server.paths();  // a body asked for once in the first batch, once again
    for (const auto& [index, copy] : standing) {
        const bool again = index == 0 || std::ranges::count(answer.files, index) > 0 ||
                           (answer.opened > 0 && index >= answer.opened);
        EXPECT_TRUE(!copy ||
                    (::stat(fileOf(index).c_str(), &info) == 0 &&
                     std::ranges::count(asked, "/" + collection.urlPath(index)) == 1 + again &&
                     (info.st_mtime > sample::servedModified(index)) ==
                         (again && index != 0 && answer.answer == M::Changed)))
            << index;
        EXPECT_TRUE(!copy || holdsServedBytes(index)) << index;
    }
    EXPECT_EQ(store.closedOnBatchThread, 0);
    // Every copy judged the server's file is told as kept: the window re-reads the folder.
    EXPECT_TRUE(answer.before != Before::FirstBatch ||
                view.kept == static_cast<int>(answer.opened > 0 ? answer.opened - 2
                                                                : 192 - answer.files.size()))
        << view.kept;
}

}  // namespace
}  // namespace zavoket
