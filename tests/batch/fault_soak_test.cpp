// Batches against a server that misbehaves at random, from a seed, and a batch killed outright:
// after each, every file in the folder must be either what it was before or exactly what the
// server sent whole, and the ending must tell what happened.
//
// ZAVOKET_SOAK_BATCHES (default 200) and ZAVOKET_SOAK_SEED (default 1) set a longer soak.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include <zlib.h>

#include "batch/batch_run.h"
#include "batch/state_messages.h"
#include "platform/atomic_file_store.h"
#include "platform/curl_transfer.h"
#include "support/quiet_view.h"
#include "support/raw_server.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using test::RawServer;

enum class Behaviour {
    Ok,
    NotFound,
    ServerError,
    RedirectToFile,
    RedirectToNothing,
    NoContent,
    LongerLengthThenClose,
    CutChunks,
    Reset,
    Silence,
    SlowDrip,
    Portal,
    WebPage,
    EmptyOk,
    Markup,
    TextBody,
    NotAJpeg,
    Gzip,
    EndlessNotFound,
};

const char* nameOf(Behaviour b) {
    static const char* const kNames[] = {"200",
                                         "404",
                                         "500",
                                         "302 to the file",
                                         "302 to a 404",
                                         "204",
                                         "Content-Length too long",
                                         "chunks cut",
                                         "reset",
                                         "silence",
                                         "slow drip",
                                         "302 to a portal's page",
                                         "200 text/html",
                                         "empty 200",
                                         "200 starting with <",
                                         "200 starting with a blank",
                                         ".jpg without its marker",
                                         "unasked gzip",
                                         "endless 404 or 302"};
    return kNames[static_cast<int>(b)];
}

bool breaksTheConnection(Behaviour b) {
    return b == Behaviour::LongerLengthThenClose || b == Behaviour::CutChunks ||
           b == Behaviour::Reset || b == Behaviour::Silence;
}

bool deliversTheFile(Behaviour b, bool picture) {
    return b == Behaviour::Ok || b == Behaviour::RedirectToFile || b == Behaviour::SlowDrip ||
           b == Behaviour::Gzip || (b == Behaviour::NotAJpeg && !picture);
}

// How often each behaviour is drawn, per thousand requests. Batches come in three kinds, so
// that every ending is seen: any fault, answers that fail without breaking the connection,
// and nothing that fails at all.
std::vector<std::pair<Behaviour, int>> weightsFor(int kind) {
    using B = Behaviour;
    switch (kind) {
        case 0:
            // Silence costs the whole idle limit each time: it is drawn sparingly.
            return {{B::Ok, 754},
                    {B::Portal, 8},
                    {B::WebPage, 8},
                    {B::EmptyOk, 8},
                    {B::Markup, 8},
                    {B::TextBody, 8},
                    {B::NotAJpeg, 8},
                    {B::Gzip, 8},
                    {B::EndlessNotFound, 8},
                    {B::NotFound, 25},
                    {B::ServerError, 25},
                    {B::RedirectToFile, 25},
                    {B::RedirectToNothing, 20},
                    {B::NoContent, 20},
                    {B::LongerLengthThenClose, 15},
                    {B::CutChunks, 15},
                    {B::Reset, 15},
                    {B::Silence, 2},
                    {B::SlowDrip, 20}};
        case 1:
            return {{B::Ok, 858},         {B::NotFound, 20},
                    {B::ServerError, 15}, {B::RedirectToNothing, 10},
                    {B::NoContent, 10},   {B::SlowDrip, 15},
                    {B::Portal, 9},       {B::WebPage, 9},
                    {B::EmptyOk, 9},      {B::Markup, 9},
                    {B::TextBody, 9},     {B::NotAJpeg, 9},
                    {B::Gzip, 9},         {B::EndlessNotFound, 9}};
        default:
            return {{B::Ok, 960}, {B::RedirectToFile, 25}, {B::SlowDrip, 15}};
    }
}

std::string text(const std::vector<char>& bytes) {
    return {bytes.begin(), bytes.end()};
}

std::string gzipped(const std::string& bytes) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, bytes.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Serves the collection with one behaviour drawn per request for a catalogue file.
class SoakServer {
  public:
    SoakServer(const sample::Collection& collection, std::uint64_t seed, int kind)
        : collection_(collection),
          random_(seed),
          weights_(weightsFor(kind)),
          portal_(
              [](int socket, const std::string&) {
                  RawServer::sendAll(
                      socket, header("200 OK", 27, "text/html") + "<html>Please log in.</html>");
                  return true;
              },
              "127.0.0.2"),
          raw_([this](int socket, const std::string& path) { return respond(socket, path); }) {}

    [[nodiscard]] std::string baseUrl() const { return raw_.baseUrl(); }
    // The behaviour drawn for each catalogue file requested, in order. Read after the batch.
    [[nodiscard]] const std::vector<std::pair<std::size_t, Behaviour>>& drawn() const {
        return drawn_;
    }
    // The most an endless error page got to send before the client left.
    [[nodiscard]] std::size_t endlessBytes() const { return endlessBytes_; }

  private:
    Behaviour draw() {
        int total = 0;
        for (const auto& [b, weight] : weights_) {
            total += weight;
        }
        int pick = std::uniform_int_distribution<int>(0, total - 1)(random_);
        for (const auto& [b, weight] : weights_) {
            if (pick < weight) {
                return b;
            }
            pick -= weight;
        }
        return Behaviour::Ok;
    }

    static std::string header(const char* status, std::size_t length,
                              const std::string& fields = "application/octet-stream") {
        return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + fields +
               "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
    }

    // Waits, for at most three seconds, until the client gives up and closes.
    static void waitForClientToLeave(int socket) {
        pollfd entry{socket, POLLIN, 0};
        for (int i = 0; i < 60; ++i) {
            char byte;
            if (::poll(&entry, 1, 50) > 0 && ::recv(socket, &byte, 1, MSG_DONTWAIT) <= 0) {
                return;
            }
        }
    }

    bool respond(int socket, const std::string& path) {
        if (path.starts_with("/missing/")) {
            RawServer::sendAll(socket, header("404 Not Found", 0));
            return true;
        }
        const bool redirected = path.starts_with("/file/");
        const long found = collection_.find(redirected ? path.substr(5) : path);
        if (found < 0) {
            RawServer::sendAll(socket, header("404 Not Found", 0));
            return true;
        }
        const std::string body = text(collection_.bytes(static_cast<std::size_t>(found)));
        const Behaviour behaviour = redirected ? Behaviour::Ok : draw();
        if (!redirected) {
            drawn_.emplace_back(static_cast<std::size_t>(found), behaviour);
        }
        const std::string half = body.substr(0, body.size() / 2);
        switch (behaviour) {
            case Behaviour::Ok:
                RawServer::sendAll(socket, header("200 OK", body.size()) + body);
                return true;
            case Behaviour::NotFound:
                RawServer::sendAll(socket, header("404 Not Found", 9) + "not found");
                return true;
            case Behaviour::ServerError:
                RawServer::sendAll(socket,
                                   header("500 Internal Server Error", 12) + "server error");
                return true;
            case Behaviour::RedirectToFile:
            case Behaviour::RedirectToNothing:
                RawServer::sendAll(
                    socket, std::string("HTTP/1.1 302 Found\r\nLocation: ") +
                                (behaviour == Behaviour::RedirectToFile ? "/file" : "/missing") +
                                path + "\r\nContent-Length: 0\r\n\r\n");
                return true;
            case Behaviour::NoContent:
                RawServer::sendAll(socket, "HTTP/1.1 204 No Content\r\n\r\n");
                return true;
            case Behaviour::LongerLengthThenClose:
                RawServer::sendAll(socket, header("200 OK", body.size() + 100) + body);
                return false;
            case Behaviour::CutChunks: {
                char size[32];
                std::snprintf(size, sizeof(size), "%zx\r\n", half.size());
                RawServer::sendAll(socket, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                               std::string(size) + half + "\r\n");
                return false;
            }
            case Behaviour::Reset:
                RawServer::sendAll(socket, header("200 OK", body.size()) + half);
                RawServer::reset(socket);
                return false;
            case Behaviour::Silence:
                RawServer::sendAll(socket, header("200 OK", body.size()) + half);
                waitForClientToLeave(socket);
                return false;
            case Behaviour::Portal:
                RawServer::sendAll(socket, "HTTP/1.1 302 Found\r\nLocation: " + portal_.baseUrl() +
                                               "login?from=" + path +
                                               "\r\nContent-Length: 0\r\n\r\n");
                return true;
            case Behaviour::WebPage:
                RawServer::sendAll(socket, header("200 OK", body.size(), "text/html") + body);
                return true;
            case Behaviour::EmptyOk:
                RawServer::sendAll(socket, header("200 OK", 0));
                return true;
            case Behaviour::Markup:
            case Behaviour::TextBody: {
                const std::string page = std::string(behaviour == Behaviour::Markup ? "" : "\r\n") +
                                         "<!DOCTYPE html><title>Blocked</title>";
                RawServer::sendAll(socket, header("200 OK", page.size()) + page);
                return true;
            }
            case Behaviour::NotAJpeg: {
                const bool picture =
                    collection_.name(static_cast<std::size_t>(found)).ends_with(".jpg");
                const std::string served = picture ? "GIF89a" + body : body;
                RawServer::sendAll(socket, header("200 OK", served.size(), "image/jpeg") + served);
                return true;
            }
            case Behaviour::Gzip: {
                const std::string packed = gzipped(body);
                RawServer::sendAll(socket, header("200 OK", packed.size(),
                                                  "video/mpeg\r\nContent-Encoding: gzip") +
                                               packed);
                return true;
            }
            case Behaviour::EndlessNotFound: {
                // An error page, or a redirect to the file whose own body never ends. Bounded
                // here, so a client that never gives up still ends the test.
                const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
                std::size_t sent = 0;
                const std::string start =
                    found % 2 == 0 ? "HTTP/1.1 404 Not Found\r\n"
                                   : "HTTP/1.1 302 Found\r\nLocation: /file" + path + "\r\n";
                if (RawServer::sendAll(socket, start + "Transfer-Encoding: chunked\r\n\r\n")) {
                    while (sent < (std::size_t{64} << 20) && RawServer::sendAll(socket, chunk)) {
                        sent += chunk.size();
                    }
                }
                endlessBytes_ = std::max(endlessBytes_, sent);
                return false;
            }
            case Behaviour::SlowDrip: {
                RawServer::sendAll(socket, header("200 OK", body.size()));
                const std::size_t step = body.size() / 3 + 1;
                for (std::size_t at = 0; at < body.size(); at += step) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    RawServer::sendAll(socket, body.substr(at, step));
                }
                return true;
            }
        }
        return false;
    }

    const sample::Collection& collection_;
    std::mt19937_64 random_;
    std::vector<std::pair<Behaviour, int>> weights_;
    std::vector<std::pair<std::size_t, Behaviour>> drawn_;
    std::size_t endlessBytes_ = 0;
    RawServer portal_;
    RawServer raw_;  // last: it stops before what it uses goes
};

// A destination as users leave them: old versions of some files, a link under one catalogue
// name that points out of the folder, and a file of their own.
// Hundreds of batches: in memory where the machine offers it, as the disk's own speed is not
// what is tested here.
fs::path soakBase() {
    std::error_code error;
    return fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::path();
}

struct Destination {
    test::TempFolder folder;
    test::TempFolder outside{soakBase()};
    std::map<std::string, std::string> old;  // catalogue name -> old bytes
    std::string linkName;                    // empty where the file system has no links (exFAT)

    Destination(const Catalogue& catalogue, std::mt19937_64& random,
                const fs::path& base = soakBase())
        : folder(base) {
        std::uniform_int_distribution<std::size_t> pick(0, Catalogue::kSize - 1);
        for (int i = 0; i < 30; ++i) {
            const std::string& name = catalogue.localName(pick(random));
            old[name] = "old version of " + name + " " + std::to_string(random());
        }
        for (const auto& [name, bytes] : old) {
            test::writeFile(folder.path() / name, bytes);
        }
        do {
            linkName = catalogue.localName(pick(random));
        } while (old.contains(linkName));
        test::writeFile(outside.path() / "target.txt", "outside the folder");
        std::error_code noLinks;
        fs::create_symlink(outside.path() / "target.txt", folder.path() / linkName, noLinks);
        if (noLinks) {
            linkName.clear();
        }
        test::writeFile(folder.path() / "my notes.txt", "the teacher's own file");
    }

    // Checks what a batch may leave; received names the files that must hold the new bytes,
    // maybe those that may hold either. Returns the breaches, empty when there are none.
    std::vector<std::string> breaches(const Catalogue& catalogue, const sample::Collection& served,
                                      const std::set<std::size_t>& received,
                                      const std::set<std::size_t>& maybe = {}) const {
        std::vector<std::string> found;
        std::set<std::string> expected = {"my notes.txt"};
        for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
            const std::string& name = catalogue.localName(i);
            const fs::path file = folder.path() / name;
            const bool isLink = fs::is_symlink(fs::symlink_status(file));
            const bool exists = fs::exists(fs::symlink_status(file));
            const bool holdsNew = exists && !isLink && test::readFile(file) == served.bytes(i);
            const bool holdsOld =
                name == linkName ? isLink && fs::read_symlink(file) == outside.path() / "target.txt"
                : old.contains(name)
                    ? exists && !isLink && text(test::readFile(file)) == old.at(name)
                    : !exists;
            if (received.contains(i) ? !holdsNew : !(holdsOld || (maybe.contains(i) && holdsNew))) {
                found.push_back(
                    name + (received.contains(i) ? " lacks the bytes served" : " was changed"));
            }
            if (exists) {
                expected.insert(name);
            }
        }
        const auto names = test::listFolder(folder.path());
        if (std::set<std::string>(names.begin(), names.end()) != expected) {
            found.push_back("the folder holds other files than the catalogue's and the user's");
        }
        if (text(test::readFile(outside.path() / "target.txt")) != "outside the folder" ||
            test::listFolder(outside.path()).size() != 1) {
            found.push_back("something outside the folder changed");
        }
        if (text(test::readFile(folder.path() / "my notes.txt")) != "the teacher's own file") {
            found.push_back("the user's own file changed");
        }
        return found;
    }
};

std::uint64_t fromEnvironment(const char* name, std::uint64_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::stoull(value) : fallback;
}

TEST(FaultSoakTest, NoBatchEverLeavesABrokenFileOrAWrongEnding) {
    const std::uint64_t batches = fromEnvironment("ZAVOKET_SOAK_BATCHES", 200);
    const std::uint64_t firstSeed = fromEnvironment("ZAVOKET_SOAK_SEED", 1);
    Catalogue catalogue;
    catalogue.fill();
    CurlTransferOptions limits;
    limits.connectTimeout = std::chrono::seconds(2);
    limits.idleTimeout = std::chrono::seconds(1);
    std::map<Behaviour, int> seen;
    std::size_t endlessBytes = 0;

    for (std::uint64_t seed = firstSeed; seed < firstSeed + batches; ++seed) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        std::mt19937_64 random(seed);
        const sample::Collection collection(sample::Profile::Small, seed);
        SoakServer server(collection, seed,
                          static_cast<int>(seed % 10 == 0   ? 2
                                           : seed % 10 == 1 ? 1
                                                            : 0));
        Destination destination(catalogue, random);
        test::QuietView view(server.baseUrl(), destination.folder.str());
        BlockingWaiter waiter;
        CurlTransfer transfer(waiter, limits);
        // Every third batch receives under temporary names, as on a USB stick.
        AtomicFileStore store({.unnamedFiles = seed % 3 != 0});
        BatchRun batch(catalogue, view, transfer, store, waiter);
        batch.start();

        // What the server did decides what the folder and the window must show.
        std::set<std::size_t> received;
        std::vector<std::string> failed;
        std::optional<std::size_t> brokenAt;
        for (const auto& [index, behaviour] : server.drawn()) {
            ++seen[behaviour];
            if (deliversTheFile(behaviour, catalogue.localName(index).ends_with(".jpg"))) {
                received.insert(index);
            } else {
                failed.push_back(catalogue.localName(index));
            }
            if (breaksTheConnection(behaviour)) {
                brokenAt = index;
                break;
            }
        }
        endlessBytes = std::max(endlessBytes, server.endlessBytes());
        EXPECT_LT(server.endlessBytes(), std::size_t{16} << 20)
            << "an endless error page was read on";
        const auto breaches = destination.breaches(catalogue, collection, received);
        for (const auto& breach : breaches) {
            ADD_FAILURE() << breach;
        }
        const std::size_t lastRequested = server.drawn().empty() ? 0 : server.drawn().back().first;
        if (brokenAt && *brokenAt < 193) {
            EXPECT_EQ(view.label2, kActivityAborted);
            EXPECT_EQ(view.label3, std::to_string(*brokenAt + 1) + "/194");
            EXPECT_EQ(view.sb, *stateMessage(kStateError));
            EXPECT_EQ(lastRequested, *brokenAt) << "the batch went on after a broken connection";
        } else {
            EXPECT_EQ(server.drawn().size(), 194u);
            EXPECT_EQ(view.label3, "194/194");
            if (failed.empty()) {
                EXPECT_EQ(view.label2, kActivityFinished);
            } else {
                EXPECT_EQ(view.label2, failedActivityText(failed.size()));
                EXPECT_EQ(view.sb, failedFilesText(failed));
            }
        }
        if (::testing::Test::HasFailure()) {
            break;  // the seed above is the one to replay
        }
    }
    for (const auto& [behaviour, count] : seen) {
        std::printf("%-26s %d\n", nameOf(behaviour), count);
    }
    std::printf("an endless error page sent at most %zu bytes\n", endlessBytes);
    if (batches >= 200) {
        EXPECT_EQ(seen.size(), 19u) << "every behaviour should have been drawn";
    }
}

// Runs the batch in a process of its own, to kill it the hard way.
test::Process batchChild(const std::string& url, const fs::path& folder, bool named = false) {
    std::vector<std::string> argv = {ZAVOKET_BATCH_CHILD, url, folder.string()};
    if (named) {
        argv.emplace_back("named");
    }
    return test::Process(argv);
}

struct KillCase {
    const char* name;
    int signal;
    bool named;          // received under a temporary name, as where there are no unnamed files
    bool exfat;          // on a real exFAT file system
    bool leavesTheName;  // only the next use of the folder clears the temporary name away
};

void PrintTo(const KillCase& kill, std::ostream* out) {
    *out << kill.name;
}

class KilledMidBodyTest : public ::testing::TestWithParam<KillCase> {};

INSTANTIATE_TEST_SUITE_P(
    Endings, KilledMidBodyTest,
    ::testing::Values(KillCase{"SigkillUnnamed", SIGKILL, false, false, false},
                      KillCase{"SigtermNamed", SIGTERM, true, false, false},
                      KillCase{"SigintNamedOnExfat", SIGINT, true, true, false},
                      KillCase{"SighupNamedOnExfat", SIGHUP, true, true, false},
                      KillCase{"SigkillNamedOnExfat", SIGKILL, true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(KilledMidBodyTest, LeavesOnlyWholeFilesAndNoTemporaryName) {
    const KillCase& param = GetParam();
    std::optional<test::ExfatMount> stick;
    if (param.exfat) {
        stick.emplace();
        if (!stick->failure().empty()) {
            GTEST_SKIP() << "no exFAT file system here: " << stick->failure();
        }
    }
    Catalogue catalogue;
    catalogue.fill();
    const sample::Collection collection(sample::Profile::Small, 99);
    test::TestServer server(collection);
    std::mt19937_64 random(99);
    Destination destination(catalogue, random, stick ? stick->path() : soakBase());

    // File 40 arrives in part, then the server waits: the child is writing it when killed.
    std::mutex mutex;
    std::condition_variable halfway;
    bool sentHalf = false;
    server.holdMidBody("/" + collection.urlPath(40), [&] {
        std::lock_guard lock(mutex);
        sentHalf = true;
        halfway.notify_all();
    });
    test::Process child = batchChild(server.baseUrl(), destination.folder.path(), param.named);
    ASSERT_TRUE(child.started());
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(halfway.wait_for(lock, std::chrono::seconds(20), [&] { return sentHalf; }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the bytes reach the disk
    EXPECT_TRUE(child.end(param.signal));

    std::size_t temporary = 0;
    for (const auto& name : test::listFolder(destination.folder.path())) {
        temporary += isStoreTemporaryName(name) ? 1 : 0;
    }
    EXPECT_EQ(temporary, param.leavesTheName ? 1u : 0u);
    if (param.leavesTheName) {
        AtomicFileStore store;  // the folder's next use
        EXPECT_TRUE(store.prepare(destination.folder.str())->restart(""));
    }
    std::set<std::size_t> received;
    for (std::size_t i = 0; i < 40; ++i) {
        received.insert(i);
    }
    for (const auto& breach : destination.breaches(catalogue, collection, received)) {
        ADD_FAILURE() << breach;
    }
}

TEST(KilledBatchTest, KillsAtRandomMomentsLeaveOnlyWholeFiles) {
    Catalogue catalogue;
    catalogue.fill();
    const sample::Collection collection(sample::Profile::Small, 7);
    test::TestServer server(collection);
    std::mt19937_64 random(7);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(::testing::Message() << "round " << round);
        Destination destination(catalogue, random);
        test::Process child = batchChild(server.baseUrl(), destination.folder.path());
        ASSERT_TRUE(child.started());
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(5, 120)(random)));
        child.end();
        // Whatever the child got to, each file holds its old or its whole new content.
        std::set<std::size_t> any;
        for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
            any.insert(i);
        }
        for (const auto& breach : destination.breaches(catalogue, collection, {}, any)) {
            ADD_FAILURE() << breach;
        }
    }
}

}  // namespace
}  // namespace zavoket
