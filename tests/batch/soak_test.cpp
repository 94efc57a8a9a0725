#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "batch/state_messages.h"
#include "local_batch.h"
#include "misbehaviour.h"
#include "platform/temporary_names.h"
#include "platform/unique_fd.h"
#include "support/held_server.h"
#include "support/scratch.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The soak: batches against a server that misbehaves, drawn from a seed, and batches killed
// outright. After each, every file in the folder must be either what it was before or exactly
// what the server sent whole, and the ending must tell what happened.
//
// ZAVOKET_SOAK_BATCHES (default two per misbehaviour) and ZAVOKET_SOAK_SEED (default 0) set a
// longer soak.

using sample::Misbehaviour;

// What must come of each misbehaviour: whether the file is received whole all the same, and
// whether the connection breaks, which stops the batch.
// IfAsked: the copy stands where the request named one, else the file failed.
enum class Kept { Yes, No, ClipsOnly, IfAsked };
struct Outcome {
    Misbehaviour misbehaviour;
    Kept kept;
    bool breaks;
};
// clang-format off
const Outcome kOutcomes[] = {
    {Misbehaviour::None, Kept::Yes, false},             {Misbehaviour::NotFound, Kept::No, false},
    {Misbehaviour::ServerError, Kept::No, false},       {Misbehaviour::RedirectToFile, Kept::Yes, false},
    {Misbehaviour::RedirectToNothing, Kept::No, false}, {Misbehaviour::NoContent, Kept::No, false},
    {Misbehaviour::LongerLengthThenClose, Kept::No, true}, {Misbehaviour::CutChunks, Kept::No, true},
    {Misbehaviour::SlowDrip, Kept::Yes, false},         {Misbehaviour::Portal, Kept::No, false},
    {Misbehaviour::WebPage, Kept::No, false},           {Misbehaviour::EmptyOk, Kept::No, false},
    {Misbehaviour::Markup, Kept::No, false},            {Misbehaviour::TextBody, Kept::No, false},
    {Misbehaviour::NotAJpeg, Kept::ClipsOnly, false},   {Misbehaviour::Gzip, Kept::Yes, false},
    {Misbehaviour::EndlessError, Kept::No, false},      {Misbehaviour::NotModified, Kept::IfAsked, false},
    {Misbehaviour::Changed, Kept::Yes, false},
    {Misbehaviour::Silence, Kept::No, true},  // last: it costs the idle limit each time
};
// clang-format on
static_assert(std::size(kOutcomes) == sample::kMisbehaviourCount);

// A destination as users leave them: old versions of some files, a link under one catalogue
// name that points out of the folder, and a file of their own.
struct Destination {
    test::TempFolder folder;
    test::TempFolder outside;
    std::map<std::string, std::string> old;  // catalogue name -> old bytes
    std::string linkName;                    // empty where the file system has no links (exFAT)

    Destination(const Catalogue& catalogue, std::mt19937_64& random, const fs::path& base = {})
        : folder(base) {
        std::uniform_int_distribution<std::size_t> pick(0, Catalogue::kSize - 1);
        for (int i = 0; i < 30; ++i) {
            const std::string& name = catalogue.localName(pick(random));
            // An old clip starts as one, so it can be the file: its request asks for a newer one.
            old[name] = (name.ends_with(".mpg") ? std::string("\0\0\1\xBA", 4) : "") +
                        "old version of " + name + " " + std::to_string(random());
            test::writeFile(folder.path() / name, old[name]);
            // From long ago: the server's files are newer, and a request for them says so. On
            // disk first, or a late write-back (FUSE) stamps its own time.
            const timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
            const UniqueFd file(::open((folder.path() / name).c_str(), O_WRONLY | O_CLOEXEC));
            EXPECT_TRUE(::fsync(file.get()) == 0 && ::futimens(file.get(), times) == 0);
        }
        do {
            linkName = catalogue.localName(pick(random));
        } while (old.contains(linkName));
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

std::uint64_t fromEnvironment(const char* name, std::uint64_t fallback) {
    return std::getenv(name) != nullptr ? std::stoull(std::getenv(name)) : fallback;
}

TEST(FaultSoakTest, NoBatchEverLeavesABrokenFileOrAWrongEnding) {
    const std::uint64_t first = fromEnvironment("ZAVOKET_SOAK_SEED", 0);
    const std::uint64_t batches = fromEnvironment("ZAVOKET_SOAK_BATCHES", 2 * std::size(kOutcomes));
    Catalogue catalogue;
    catalogue.fill();
    for (std::uint64_t seed = first; seed < first + batches && !::testing::Test::HasFailure();
         ++seed) {
        const Outcome& featured = kOutcomes[seed % std::size(kOutcomes)];
        SCOPED_TRACE(::testing::Message() << "seed " << seed << ", mostly "
                                          << sample::misbehaviourName(featured.misbehaviour));
        std::mt19937_64 random(seed);
        const sample::Collection collection(sample::Profile::Small, seed);
        const Destination destination(catalogue, random);
        ApplicationOptions options;
        options.transfer.connectTimeout = 2s;
        options.transfer.idleTimeout = 1s;
        // Every other round receives under temporary names, as on a USB stick.
        options.files.unnamedFiles = (seed / std::size(kOutcomes)) % 2 == 0;
        harness::RecordingView view("", "");
        // For each catalogue file requested, what was drawn: often the featured misbehaviour,
        // now and then any other but silence, else none.
        std::vector<std::pair<std::size_t, const Outcome*>> drawn;
        std::atomic<std::size_t> endless{0};  // the most an endless answer sent
        {
            std::mutex mutex;
            harness::LocalServer server(collection);
            server.setFault([&](const auto& request, auto& response) {
                const long index = collection.find(request.path);
                if (index < 0) {
                    return false;  // where a misbehaviour sends the client on to
                }
                std::lock_guard lock(mutex);
                const int roll = std::uniform_int_distribution<int>(0, 59)(random);
                const Outcome* draw = roll < 5   ? &featured
                                      : roll < 7 ? &kOutcomes[random() % (std::size(kOutcomes) - 1)]
                                                 : &kOutcomes[0];
                drawn.emplace_back(static_cast<std::size_t>(index), draw);
                sample::answerAs(draw->misbehaviour, collection, static_cast<std::size_t>(index),
                                 request, response, &endless);
                return true;
            });
            harness::LocalBatch run(server.baseUrl(), destination.folder.str(), options);
            run.batch.start();
            view = run.view;
            // Two files are under way at a time: one may overtake the other by a step.
            std::sort(drawn.begin(), drawn.end());
        }

        // What the server did decides what the folder and the window must show.
        std::set<std::size_t> received;
        std::size_t standing = 0;  // copies the server said are up to date
        std::vector<std::string> failed;
        std::optional<std::size_t> brokenAt;
        for (const auto& [index, behaviour] : drawn) {
            const bool picture = catalogue.localName(index).ends_with(".jpg");
            const std::string& name = catalogue.localName(index);
            if (behaviour->kept == Kept::Yes || (behaviour->kept == Kept::ClipsOnly && !picture)) {
                received.insert(index);
            } else if (behaviour->kept == Kept::IfAsked && !picture &&
                       destination.old.contains(name)) {
                ++standing;  // an old clip can be the file: the request asked for a newer one
            } else {
                failed.push_back(catalogue.localName(index));
            }
            if (behaviour->breaks) {
                brokenAt = index;
                break;
            }
        }
        EXPECT_LT(endless, std::size_t{16} << 20) << "an endless answer was read on";
        for (std::size_t i = 0; i < drawn.size(); ++i) {
            EXPECT_EQ(drawn[i].first, i) << "requests out of catalogue order";
        }
        EXPECT_EQ(view.refreshCount, static_cast<int>(received.size() + standing));
        EXPECT_FALSE(view.timer1Enabled || view.image3Visible);
        EXPECT_EQ(view.label11Visible, brokenAt && *brokenAt < 193);
        destination.check(catalogue, collection,
                          [&](std::size_t i) { return received.contains(i); });
        if (brokenAt && *brokenAt < 193) {
            EXPECT_EQ(view.label2, kActivityAborted);
            EXPECT_EQ(view.label3, std::to_string(*brokenAt + 1) + "/194");
            EXPECT_EQ(view.sb, *stateMessage(kStateError));
            EXPECT_LE(drawn.back().first, *brokenAt + 1)
                << "the batch went on after a broken connection, past the file behind it";
        } else {
            EXPECT_EQ(drawn.size(), 194u);
            EXPECT_EQ(view.label3, "194/194");
            EXPECT_EQ(view.label2,
                      failed.empty() ? kActivityFinished : failedActivityText(failed.size()));
            EXPECT_EQ(view.sb, failed.empty() ? *stateMessage(12) : failedFilesText(failed));
        }
    }
}

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
    std::mt19937_64 random(99);
    const Destination destination(catalogue, random, stick ? stick->path() : fs::path());

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
