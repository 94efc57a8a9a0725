#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <map>
#include <thread>

#include "local_batch.h"
#include "platform/atomic_file_store.h"
#include "platform/curl_transfer.h"
#include "platform/temporary_names.h"
#include "sample_server.h"
#include "support/held_server.h"
#include "support/scratch.h"
#include "support/stores.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using States = std::vector<std::int16_t>;
using namespace std::chrono_literals;
using namespace std::string_literals;
using test::listFolder;
using test::readText;

const sample::Collection& collection() {
    static const sample::Collection c(sample::Profile::Small, 3);
    return c;
}

std::atomic<std::size_t> endlessBytesSent{0};
std::atomic<bool> silenceOver{false};

// A body of size bytes, or one that never ends when size is 0 (bounded at 64 MiB: a client
// that never gives up still ends the test).
void generated(httplib::Response& response, int status, std::size_t size) {
    response.status = status;
    response.set_chunked_content_provider("video/mpeg", [=](std::size_t offset, auto& sink) {
        const std::size_t left = (size == 0 ? std::size_t{64} << 20 : size) - offset;
        const std::string block(std::min<std::size_t>(left, 65536), 'b');
        endlessBytesSent += size == 0 ? block.size() : 0;
        return left == 0 ? (sink.done(), true) : sink.write(block.data(), block.size());
    });
}

// The desktop's proxy settings for one case, as a user sets them: http_proxy, or GNOME's, through
// a keyfile back end in a home folder of the case's. Put back as they were afterwards.
class ProxySettings {
  public:
    ProxySettings(std::string_view kind, int port) {
        const std::string at =
            (kind == "ftp" ? "ftp" : "http") + "://127.0.0.1:"s + std::to_string(port);
        std::vector<std::pair<const char*, std::string>> wanted = {
            {"http_proxy", kind == "environment" || kind == "ftp" ? at : ""}, {"no_proxy", ""}};
        if (kind == "GNOME") {
            fs::create_directories(home_.path() / "glib-2.0/settings");
            test::writeFile(home_.path() / "glib-2.0/settings/keyfile",
                            "[system/proxy]\nmode='manual'\nignore-hosts=@as []\n"
                            "[system/proxy/http]\nhost='127.0.0.1'\nport=" +
                                std::to_string(port) + "\n");
            wanted.insert(wanted.end(), {{"HOME", home_.str()},
                                         {"XDG_CONFIG_HOME", home_.str()},
                                         {"GSETTINGS_BACKEND", "keyfile"},
                                         {"DESKTOP_SESSION", "gnome"},
                                         {"XDG_CURRENT_DESKTOP", "GNOME"}});
        }
        for (const auto& [name, value] : wanted) {
            const char* old = std::getenv(name);
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            value.empty() ? ::unsetenv(name) : ::setenv(name, value.c_str(), 1);
        }
    }
    ~ProxySettings() {
        for (const auto& [name, old] : saved_) {
            old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name);
        }
    }

  private:
    test::TempFolder home_;
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

struct FetchCase {
    const char* name;
    void (*answer)(httplib::Response&) = nullptr;  // to a request for /x; none: the first file
    FetchOutcome outcome;
    long status = -1;     // -1: not looked at
    States states = {};   // empty: not looked at
    int file = -1;        // the sample file the sink holds whole; -1: not looked at; -2: nothing
    States next = {};     // of the request after it on the same transfer; empty: not looked at
    bool byName = false;  // the server is reached as localhost
    std::uint64_t maxBody = 0;
    bool sinkFull = false;
    std::optional<std::int64_t> since = {};  // the time of a copy that stands
    std::uint64_t copyBytes = 0;             // its length; kFile0: the first file's
    std::int64_t grain = 1;                  // how coarsely its folder keeps times
    std::uint64_t room = UINT64_MAX;         // the folder's free space
    const char* proxy = nullptr;  // "environment" or "GNOME": /x by the server as the proxy
    bool cancel = false;          // 700 ms into the request, from another thread
    int ahead = 0;                // 1: the next one asked for behind this one; 2: then dropped
    void (*answerAgain)(const httplib::Request&, httplib::Response&) = nullptr;  // to the next
    int retries = 0;          // the transfer's, after pauses of 10, 20, 40 ms
    int asked = 0;            // requests for /x the server gets; 0: not looked at
    bool rangeAsked = false;  // the second asks for the rest of the body the first cut short
    int toldRetries = 0;      // pauses the owner heard of
    bool https = false;       // /x by a server of its own over https, which sends it on to http
    bool nowhere = false;     // where nothing listens; with byName, a name no resolver knows
    const char* detail = "";  // what the detail for a log names
    std::size_t firstAnswers = 1;  // requests for /x given answer, before answerAgain
};

constexpr std::uint64_t kFile0 = UINT64_MAX;
constexpr std::int64_t kServed = sample::kServedModified;
const States kNewConnection = {1, 2, 3, 4, 5, 6, 7, 8, 12};
const States kReused = {5, 6, 7, 8, 12};
const States kClosed = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12};
using R = httplib::Response;
using O = FetchOutcome;

class FetchTest : public ::testing::TestWithParam<FetchCase> {};

// The headers, then nothing for 6 s: only the idle limit, or a cancel, ends the request.
void stall(R& r) {
    r.set_content_provider(9999, "video/mpeg", [](auto, auto, auto&) {
        for (int i = 0; i < 60 && !silenceOver; ++i)
            std::this_thread::sleep_for(100ms);
        return false;
    });
}
void plain(R& r) {
    r.set_content("G@", "video/mpeg");
}
// The second file, with its time and a tag of its own to go on from (neither without a tag);
// half of it where cut; all of it in chunks where whole, whatever range was asked for.
void secondFile(R& r, bool cut, bool whole = false, const char* tag = "\"a\"") {
    const auto bytes = collection().bytes(1);
    tag ? (r.set_header("Last-Modified", sample::kServedModifiedText), r.set_header("ETag", tag))
        : void();
    r.status = whole ? 200 : -1;
    whole ? r.set_chunked_content_provider("image/jpeg",
                                           [=](auto offset, auto& sink) {
                                               return offset < bytes.size()
                                                          ? sink.write(bytes.data(), bytes.size())
                                                          : (sink.done(), true);
                                           })
          : r.set_content_provider(
                bytes.size(), "image/jpeg", [=](auto offset, auto length, auto& sink) {
                    const std::size_t end = cut ? bytes.size() / 2 : offset + length;
                    return offset < end && sink.write(bytes.data() + offset, end - offset) && !cut;
                });
}
using Q = httplib::Request;

// What the transfer told of each request.
struct Told final : TransferEvents {
    void requestState(RequestId id, ConnectionState s) override {
        states[id].push_back(static_cast<std::int16_t>(s));
    }
    void requestEnded(RequestId id, FetchResult result) override { ended[id] = std::move(result); }
    void requestRetrying(RequestId, std::chrono::milliseconds, int) override { ++retries; }
    int retries = 0;
    std::map<RequestId, States> states;
    std::map<RequestId, FetchResult> ended;
};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Answers, FetchTest, ::testing::Values(
    FetchCase{.name = "AFile", .outcome = O::Received, .status = 200, .states = kNewConnection, .file = 0, .next = kReused},
    FetchCase{.name = "AFileByHostName", .outcome = O::Received, .status = 200, .states = kNewConnection, .file = 0, .byName = true},
    FetchCase{.name = "ClosedByTheServer", .answer = [](R& r) { r.set_header("Connection", "close"), r.set_content("bye", "text/plain"); },
              .outcome = O::Received, .status = 200, .states = kClosed, .next = kNewConnection},
    FetchCase{.name = "Moved", .answer = [](R& r) { r.set_redirect("/1101/1101-A.jpg"); }, .outcome = O::Received, .status = 200,
              .states = {1, 2, 3, 4, 5, 6, 7, 5, 6, 7, 8, 12}, .file = 0},
    FetchCase{.name = "ARedirectLoop", .answer = [](R& r) { r.set_redirect("/x"); }, .outcome = O::Refused, .file = -2},
    FetchCase{.name = "MovedToAnotherProtocol", .answer = [](R& r) { r.set_redirect("ftp://127.0.0.1/x"); }, .outcome = O::Refused, .file = -2},
    FetchCase{.name = "CutMidBody", .answer = [](R& r) { r.set_content_provider(9999, "video/mpeg", [](auto, auto, auto& sink) {
                  return sink.write("G@\x11\x10", 4) && false; }); },  // the connection drops
              .outcome = O::TransportError, .status = 200, .states = {1, 2, 3, 4, 5, 6, 7, 9, 10, 11}},
    // It answers late: the next, asked for behind it, has a connection of its own meanwhile.
    // Its connection closes after the next has ended: still told to it.
    FetchCase{.name = "ALargeFileLateAndTheNextAhead", .answer = [](R& r) { std::this_thread::sleep_for(300ms), generated(r, 200, 2 << 20),
              r.set_header("Connection", "close"); }, .outcome = O::Received, .status = 200, .states = kClosed, .next = kNewConnection, .ahead = 1},
    FetchCase{.name = "TheNextDroppedAfterALateFile", .answer = [](R& r) { std::this_thread::sleep_for(300ms), plain(r); },
              .outcome = O::Received, .status = 200, .next = kReused, .ahead = 2},
    FetchCase{.name = "ARedirectBodyUpToTheLimit", .answer = [](R& r) { generated(r, 302, 1 << 20), r.set_redirect("/1101/1101-A.jpg"); },
              .outcome = O::Received, .status = 200, .file = 0},
    FetchCase{.name = "AnEndlessRedirectBody", .answer = [](R& r) { generated(r, 302, 0), r.set_redirect("/1101/1101-A.jpg"); },
              .outcome = O::HttpError, .status = 302, .file = -2},
    FetchCase{.name = "ExactlyTheLimit", .answer = [](R& r) { r.set_content(std::string(1000, 'b'), "video/mpeg"); },
              .outcome = O::Received, .status = 200, .maxBody = 1000},
    FetchCase{.name = "AnnouncedOverTheLimit", .outcome = O::Refused, .file = -2, .maxBody = 1000},
    FetchCase{.name = "GrowingOverTheLimit", .answer = [](R& r) { generated(r, 200, 3000); }, .outcome = O::Refused, .maxBody = 1000},
    FetchCase{.name = "ASinkThatCannotKeepIt", .outcome = O::SinkFailed, .status = 200, .sinkFull = true},
    // Where a copy stands the server is asked what it holds (a HEAD), and a body comes only for a
    // copy unlike its file, on the same connection.
    FetchCase{.name = "NotModifiedToAHead", .answer = [](R& r) { r.status = 304; }, .outcome = O::HttpError, .status = 304,
              .states = {1, 2, 3, 4, 5, 6, 7, 5, 6, 7, 8, 12}, .file = -2, .since = 1767225600},
    FetchCase{.name = "NoNewerThanTheCopy", .answer = [](R& r) { r.set_header("Last-Modified", sample::kServedModifiedText), plain(r); },
              .outcome = O::NotModified, .file = -2, .since = sample::kServedModified + 60},
    FetchCase{.name = "ACopyOnFat", .outcome = O::NotModified, .states = kNewConnection, .file = -2, .next = kReused,
              .since = kServed - 1, .copyBytes = kFile0, .grain = 2},
    FetchCase{.name = "ALargeCopyOnFat", .answer = [](R& r) { r.set_header("Last-Modified", sample::kServedModifiedText),
              r.set_content(std::string(2 << 20, 'b'), "video/mpeg"); },
              .outcome = O::NotModified, .states = kNewConnection, .next = kReused, .since = kServed - 1, .copyBytes = 2 << 20, .grain = 2},
    FetchCase{.name = "ACopyTwoSecondsOffOnFat", .outcome = O::Received, .file = 0, .since = kServed - 2, .copyBytes = kFile0, .grain = 2},
    FetchCase{.name = "ACopyCutShort", .outcome = O::Received, .states = {1, 2, 3, 4, 5, 6, 7, 5, 6, 7, 8, 12}, .file = 0,
              .next = kReused, .since = kServed, .copyBytes = 100},
    FetchCase{.name = "ATimeInTheFuture", .answer = [](R& r) { r.set_header("Last-Modified", "Fri, 01 Jul 2039 00:00:00 GMT"), plain(r); },
              .outcome = O::Received, .next = kNewConnection, .since = kServed + 60, .copyBytes = 2},
    FetchCase{.name = "AnUnreadableTime", .answer = [](R& r) { r.set_header("Last-Modified", "yesterday"), plain(r); },
              .outcome = O::Received, .since = kServed + 60, .copyBytes = 2},
    FetchCase{.name = "LongerThanTheFreeSpace", .outcome = O::SinkFailed, .status = 200, .file = -2, .room = 1000},
    FetchCase{.name = "ACopyAndTooLittleSpace", .outcome = O::SinkFailed, .status = 200, .file = -2, .next = kReused,
              .since = kServed - 9, .copyBytes = 100, .room = 1000},
    FetchCase{.name = "GoneSilent", .answer = stall, .outcome = O::TransportError, .status = 200},
    FetchCase{.name = "CancelledWhileTheServerStalls", .answer = stall, .outcome = O::Cancelled, .file = -2, .cancel = true},
    // A link that drops: the rest is asked for where the server can tell it is the same file,
    // the whole file again where not; a server that is only busy costs no try while a connection
    // can be given up.
    FetchCase{.name = "ResumedAfterACut", .answer = [](R& r) { secondFile(r, true); }, .outcome = O::Received, .status = 206, .file = 1,
              .answerAgain = [](const Q& q, R& r) { secondFile(r, false, q.get_header_value("If-Range") != "\"a\""); }, .retries = 3, .asked = 2, .rangeAsked = true, .toldRetries = 1},
    FetchCase{.name = "ARangeIgnored", .answer = [](R& r) { secondFile(r, true); }, .outcome = O::Received, .status = 200,
              .file = 1, .answerAgain = [](const Q&, R& r) { secondFile(r, false, true); }, .retries = 3, .asked = 2,
              .rangeAsked = true, .toldRetries = 1},
    FetchCase{.name = "ChangedBetweenTries", .answer = [](R& r) { secondFile(r, true); }, .outcome = O::Received, .status = 200,
              .file = 1, .answerAgain = [](const Q& q, R& r) { secondFile(r, false, q.get_header_value("If-Range") != "\"b\"", "\"b\""); },
              .retries = 3, .asked = 2, .rangeAsked = true, .toldRetries = 1},
    FetchCase{.name = "BusyUntilOneConnectionIsLeft", .answer = [](R& r) { r.status = 503, r.set_header("Retry-After", "0"); }, .outcome = O::Received,
              .status = 200, .file = 1, .answerAgain = [](const Q&, R& r) { secondFile(r, false); }, .retries = 3, .asked = 5, .toldRetries = 1, .firstAnswers = 4},
    FetchCase{.name = "CancelledWhileItWaitsToTryAgain", .answer = [](R& r) { r.status = 503, r.set_header("Retry-After", "5"); },
              .outcome = O::Cancelled, .file = -2, .cancel = true},
    // Where the only proxy set is one libcurl cannot use, it goes directly.
    FetchCase{.name = "NothingListensThere", .outcome = O::TransportError, .proxy = "ftp", .retries = 2, .toldRetries = 2, .nowhere = true, .detail = "127.0.0.2 port 9"},
    FetchCase{.name = "RetriesSpent", .answer = [](R& r) { secondFile(r, true); }, .outcome = O::TransportError, .status = 206,
              .retries = 3, .asked = 4, .toldRetries = 3},
    // Files of one collection begin alike and may be as long: the next is no repeat of this one.
    FetchCase{.name = "ABodyLikeTheNext", .answer = [](R& r) { auto b = collection().bytes(0); r.set_content(std::string(b.begin(), b.end() - 1) + "!", "image/jpeg"); },
              .outcome = O::Received, .status = 200},
    FetchCase{.name = "ABrokenEncoding", .answer = [](R& r) { r.set_header("Content-Encoding", "gzip"), plain(r); },
              .outcome = O::Refused, .status = 200},
    FetchCase{.name = "FromHttpsOnToHttp", .outcome = O::Refused, .status = 302, .file = -2, .https = true},
    FetchCase{.name = "ThroughTheEnvironmentsProxy", .answer = plain, .outcome = O::Received, .status = 200, .proxy = "environment"},
    FetchCase{.name = "ThroughTheDesktopsProxy", .answer = plain, .outcome = O::Received, .status = 200, .proxy = "GNOME"},
    FetchCase{.name = "AProxyAsksForAPassword", .answer = [](R& r) { r.status = 407; }, .outcome = O::HttpError, .status = 407,
              .file = -2, .proxy = "environment"},
    FetchCase{.name = "AProxyRefuses", .answer = [](R& r) { r.status = 403; }, .outcome = O::HttpError, .status = 403, .file = -2,
              .proxy = "GNOME"},
    // A redirect's tag and time are its own: the file, which has neither, is asked for whole again.
    FetchCase{.name = "CutAfterARedirect", .answer = [](R& r) { r.set_header("ETag", "\"r\""), r.set_header("Last-Modified", sample::kServedModifiedText), r.set_redirect("/y/x"); },
              .outcome = O::Received, .status = 200, .answerAgain = [](const Q& q, R& r) { q.path == "/x" ? r.set_redirect("/z/x") : secondFile(r, q.path == "/y/x", false, nullptr); },
              .retries = 3, .asked = 4, .toldRetries = 1},
    FetchCase{.name = "SilentOnce", .answer = stall, .outcome = O::Received, .status = 200, .file = 1,
              .answerAgain = [](const Q&, R& r) { secondFile(r, false); }, .retries = 1, .asked = 2, .toldRetries = 1},
    // Up to their limits, an error page is read whole and a body as long as a head is judged as it comes: the connection stays.
    FetchCase{.name = "AnErrorPageUpToTheLimit", .answer = [](R& r) { r.status = 404, r.set_content(std::string(1 << 20, 'x'), "text/html"); }, .outcome = O::HttpError, .status = 404, .next = kReused},
    FetchCase{.name = "ABodyAsLongAsAHead", .answer = [](R& r) { r.set_content(std::string(kStandingHeadBytes, 'b'), "video/mpeg"); }, .outcome = O::Received, .status = 200, .next = kReused},
    FetchCase{.name = "AnUnaskedPart", .answer = [](R& r) { r.status = 206, r.set_header("Content-Range", "bytes 0-1/2"), plain(r); }, .outcome = O::HttpError, .status = 206, .file = -2},
    FetchCase{.name = "ACopyAsNewerAsItsFolderTells", .outcome = O::NotModified, .file = -2, .since = kServed + 1, .copyBytes = 100},
    FetchCase{.name = "NoSuchHost", .outcome = O::TransportError, .states = {1, 11}, .byName = true, .nowhere = true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_P(FetchTest, EndsAsTheAnswerDeservesAndLeavesTheTransferUsable) {
    const FetchCase& fetch = GetParam();
    std::vector<std::string> ranges;  // of each request for /x; outlives the server that fills it
    test::HeldServer server(collection());
    server.setFault([&](const auto& request, auto& response) {
        if (!request.path.ends_with("/x")) {
            return false;
        }
        ranges.push_back(request.get_header_value("Range"));
        const bool again = ranges.size() > fetch.firstAnswers && fetch.answerAgain;
        again ? fetch.answerAgain(request, response) : fetch.answer(response);
        return true;
    });
    if (fetch.proxy && std::string_view(fetch.proxy) == "GNOME" &&
        test::printed("ls /usr/lib/*/libproxy/*/modules/config_gnome3.so 2>/dev/null").empty()) {
        GTEST_SKIP() << "libproxy's GNOME settings plugin is missing (libproxy1-plugin-gsettings)";
    }
    const ProxySettings proxy(fetch.proxy ? fetch.proxy : "", server.port());
    // A certificate of its own, which the transfer is told to trust.
    test::TempFolder keys;
    const std::string cert = (keys.path() / "cert.pem").string();
    const std::string key = (keys.path() / "key.pem").string();
    std::optional<httplib::SSLServer> secure;
    std::jthread serving;
    const std::shared_ptr<void> stopper(nullptr, [&](void*) { secure ? secure->stop() : void(); });
    int securePort = 0;
    if (fetch.https) {
        (void)test::printed(
            "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
            "-addext subjectAltName=IP:127.0.0.1 -keyout " +
            key + " -out " + cert + " 2>/dev/null");
        secure.emplace(cert.c_str(), key.c_str());
        secure->Get("/x", [&](const auto&, auto& r) {
            r.set_redirect(server.baseUrl() + "1101/1101-A.jpg");
        });
        ASSERT_GT(securePort = secure->bind_to_any_port("127.0.0.1"), 0);
        serving = std::jthread([&] { secure->listen_after_bind(); });
        for (int i = 0; i < 200 && !secure->is_running(); ++i) {
            std::this_thread::sleep_for(5ms);
        }
    }
    harness::TaskQueue queue;
    Told told;
    CurlTransfer transfer(queue.poster(),
                          {.connectTimeout = 2s,
                           .idleTimeout = 1s,
                           .maxBodyBytes = fetch.maxBody > 0 ? fetch.maxBody : 1 << 30,
                           .retries = fetch.retries,
                           .firstPause = 10ms,
                           .authority = fetch.https ? cert : ""});
    const auto ended = [&](RequestId id) {
        return queue.runUntil([&] { return told.ended.contains(id); }, 10s);
    };
    // Where nothing listens: only a proxy reaches it.
    const std::string url =
        fetch.https                     ? "https://127.0.0.1:" + std::to_string(securePort) + "/x"
        : fetch.nowhere && fetch.byName ? "http://nowhere.invalid/x"
        : fetch.proxy || fetch.nowhere  ? "http://127.0.0.2:9/x"
        : fetch.answer                  ? server.baseUrl() + "x"
        : fetch.byName ? "http://localhost:" + std::to_string(server.port()) + "/1101/1101-A.jpg"
                       : server.baseUrl() + "1101\\1101-A.jpg";
    const std::string nextUrl = server.baseUrl() + "1101/1101-A.jpg";
    test::MemoryFile sink;
    test::MemoryFile next;
    sink.full = fetch.sinkFull;
    sink.since = fetch.since;
    sink.copyBytes = fetch.copyBytes == kFile0 ? collection().length(0) : fetch.copyBytes;
    sink.grain = fetch.grain;
    sink.room = fetch.room;
    endlessBytesSent = 0;
    silenceOver = false;
    double busy = 0;  // seconds of processor time in half a second of waiting
    std::jthread canceller([&] {
        if (fetch.cancel) {
            std::this_thread::sleep_for(200ms);
            const std::clock_t before = std::clock();
            std::this_thread::sleep_for(500ms);
            busy = static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
            transfer.cancel();
        }
    });
    const auto started = std::chrono::steady_clock::now();
    transfer.request(1, url, sink, told);
    fetch.ahead ? transfer.request(2, nextUrl, next, told) : void();
    ASSERT_TRUE(ended(1));
    const FetchResult& result = told.ended[1];
    const States& states = told.states[1];
    // Far below what a server gone silent would hold the batch for: the idle limit, or the
    // cancel, ended it; and the wait slept.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    EXPECT_LT(busy, 0.25) << "a wait that spins";
    silenceOver = true;
    EXPECT_EQ(result.outcome, fetch.outcome) << result.detail;
    EXPECT_NE(result.detail.find(fetch.detail), std::string::npos) << result.detail;
    EXPECT_TRUE(fetch.status < 0 || result.httpStatus == fetch.status) << result.httpStatus;
    EXPECT_TRUE(fetch.states.empty() || states == fetch.states) << ::testing::PrintToString(states);
    // Only a broken connection is the error the status bar shows, once and last.
    ASSERT_TRUE(fetch.cancel || !states.empty());
    EXPECT_EQ(std::find(states.begin(), states.end(), 11) - states.begin() + 1,
              states.size() + (fetch.outcome != FetchOutcome::TransportError));
    EXPECT_EQ(sink.completed, fetch.outcome == FetchOutcome::Received);
    if (fetch.file >= 0) {
        const auto bytes = collection().bytes(static_cast<std::size_t>(fetch.file));
        EXPECT_EQ(sink.bytes, std::string(bytes.begin(), bytes.end()));
    }
    EXPECT_TRUE(fetch.file != -2 || sink.bytes.empty());
    EXPECT_EQ(result.proxyRefused, fetch.proxy && (fetch.status == 403 || fetch.status == 407));
    EXPECT_EQ(result.insecureRedirect, fetch.https);
    EXPECT_EQ(result.noRoom, fetch.room < UINT64_MAX);
    const bool timed =
        fetch.outcome == FetchOutcome::Received && (!fetch.answer || fetch.file >= 0);
    EXPECT_EQ(sink.modified, timed ? std::optional(sample::kServedModified) : std::nullopt)
        << "the server's time, and only that";
    EXPECT_TRUE(fetch.outcome != FetchOutcome::Refused || fetch.file != -2 || sink.restarts == 0)
        << "a body refused before it came";
    EXPECT_EQ(server.requested("http://127.0.0.2:9/x"), fetch.proxy != nullptr && !fetch.nowhere);
    EXPECT_TRUE(fetch.asked == 0 || ranges.size() == static_cast<std::size_t>(fetch.asked))
        << ranges.size();
    EXPECT_EQ(told.retries, fetch.toldRetries);
    EXPECT_TRUE(!fetch.rangeAsked ||
                (ranges.size() > 1 &&
                 ranges[1] == "bytes=" + std::to_string(collection().bytes(1).size() / 2) + "-"))
        << ::testing::PrintToString(ranges);
    if (fetch.proxy || fetch.cancel || fetch.https || fetch.nowhere) {
        return;  // the next request would go through the proxy too; a cancel ends the transfer
    }
    EXPECT_LT(endlessBytesSent, std::size_t{16} << 20) << "an endless answer was read on";
    // The next request of the batch still goes through: the one asked for behind, or a new one
    // in the place of one dropped.
    fetch.ahead == 2 ? transfer.drop(2) : void();
    ASSERT_TRUE(fetch.ahead != 2 || ended(2));
    const RequestId again = fetch.ahead == 1 ? 2 : 3;
    again == 3 ? transfer.request(3, nextUrl, next, told) : void();
    ASSERT_TRUE(ended(again));
    EXPECT_EQ(told.ended[again].outcome,
              fetch.maxBody > 0 ? FetchOutcome::Refused : FetchOutcome::Received);
    EXPECT_TRUE(fetch.next.empty() || told.states[again] == fetch.next)
        << ::testing::PrintToString(told.states[again]);
}

using Names = std::vector<std::string>;

// With files that have no name until they are whole, and with temporary names, as on exFAT.
class AtomicFileStoreTest : public ::testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(Files, AtomicFileStoreTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Unnamed" : "Named"; });

TEST_P(AtomicFileStoreTest, AFileShowsOnlyWholeUnderItsNameOrNotAtAll) {
    test::TempFolder folder;
    test::TempFolder outside;
    fs::create_directory(folder.path() / "later");
    fs::create_directory(folder.path() / "caf\xe9");  // named in Latin-1, as on an old stick
    fs::create_directory(folder.path() / "1201-A.jpg");
    fs::create_directory(folder.path() / "stick");
    const test::Tmpfs stick(folder.path() / "stick", "256k");  // another volume, where it can be
    test::writeFile(outside.path() / "target", "keep me");
    fs::create_symlink(outside.path() / "target", folder.path() / "1102-1-A.jpg");
    // Names a killed run left: a process id above the kernel's limit cannot be running.
    // Dead ones on either side of the living, as the folder may list them in any order.
    const std::string mine = ".zavoket-" + std::to_string(::getpid()) + "-3-1234.part";
    const std::string living = ".zavoket-1-3-1234.part";  // init's, as another running copy's
    for (const std::string& name :
         {".zavoket-99999999-1-1.part"s, mine, ".zavoket-99999999-2-2.part"s, living,
          ".zavoket-99999999-3-3.part"s, "notes.part"s}) {
        test::writeFile(folder.path() / name, "x");
    }
    AtomicFileStore store({.unnamedFiles = GetParam()});
    const struct {
        const char* into;  // the folder the bytes come into
        const char* named;
        std::string bytes;
        bool ok;
        // clang-format off
    } kRows[] = {
        {"", "1101-A.jpg", "a longer first version", true},
        {"", "1101-A.jpg", "", true},  // replaced exactly
        {"", "1101-A.jpg", "short", true},  // an empty copy is a copy too
        {"", "1102-1-A.jpg", "new bytes", true},  // a link under the name is replaced, not followed
        {"", "later/1203-A.jpg", "moved", true},  // the user opened another folder meanwhile
        {"caf\xe9", "caf\xe9/1205-A.jpg", "bytes", true},
        {"", "stick/1204-A.jpg", std::string(100000, 'v'), true},
        {"", "stick/1206-A.jpg", std::string(200000, 'w'), !stick.failure().empty()},  // no room
        {"missing", "1200-A.jpg", "bytes", false},
        {"", "1201-A.jpg", "bytes", false},  // a folder stands under the name
        {"", "gone/1202-A.jpg", "bytes", false},  // the destination vanished
        {"", "", "bytes", false},
    };
    // clang-format on
    std::map<std::string, std::string> standing;  // what a name holds, as the store must find it
    for (const auto& row : kRows) {
        const fs::path named = folder.path() / row.named;
        auto file = store.prepare((folder.path() / row.into).string(), named.filename().string());
        const IncomingFile::Probe probe = file->probe();
        EXPECT_EQ(probe.folderUsable, row.into != std::string_view("missing")) << row.named;
        EXPECT_EQ(probe.copy ? probe.copy->head : "-",
                  standing.contains(row.named) ? standing[row.named] : "-")
            << row.named;
        EXPECT_EQ(probe.copy ? probe.copy->length : 0, standing[row.named].size()) << row.named;
        file->setModified(1767225600);  // the server's time goes on the file
        const std::size_t half = row.bytes.size() / 2;
        // A body that begins again (a new answer) replaces what came before it.
        const bool received = file->restart("") && file->append({"page", 4}) && file->restart("") &&
                              file->append({row.bytes.data(), half}) &&
                              file->append({row.bytes.data() + half, row.bytes.size() - half}) &&
                              file->complete();
        EXPECT_EQ(received && !file->commit(named.string()), row.ok) << row.named;
        EXPECT_TRUE(!row.ok || readText(named) == row.bytes) << row.named;
        struct stat info {};
        EXPECT_TRUE(!row.ok || (::stat(named.c_str(), &info) == 0 && info.st_mtime == 1767225600))
            << row.named;
        row.ok ? void(standing[row.named] = row.bytes) : void();
    }
    EXPECT_EQ(readText(outside.path() / "target"), "keep me");
    EXPECT_TRUE(store.prepare(folder.str(), "1107-A.jpg")->restart(""));  // dropped: no name left
    // A close takes the names of files still coming in, gives none to a file that begins after
    // it, and lets a whole one have its name; a signal takes every name there and then.
    auto whole = store.prepare(folder.str(), "1102-2-A.jpg");
    auto lost = store.prepare(folder.str(), "1102-2-A.jpg");
    auto coming = store.prepare(folder.str(), "1102-2-A.jpg");
    for (auto* done : {&whole, &lost}) {
        EXPECT_TRUE((*done)->restart("") && (*done)->append({"whole", 5}) && (*done)->complete());
        (*done)->toBeNamed();
    }
    EXPECT_TRUE(coming->restart("") && coming->append({"half", 4}));
    removeReceivingNamesAside().wait();
    auto late = store.prepare(folder.str(), "1102-2-A.jpg");
    EXPECT_EQ(late->restart("") && late->append({"late", 4}) && late->complete(), GetParam());
    // A name refused to it is not waited for by the next close.
    EXPECT_EQ(removeReceivingNamesAside().wait_for(30s), std::future_status::ready);
    EXPECT_FALSE(whole->commit(folder.str() + "/1103-A.jpg"));
    EXPECT_EQ(static_cast<bool>(coming->commit(folder.str() + "/1104-A.jpg")), !GetParam());
    removeAllTemporaryNames();
    EXPECT_EQ(static_cast<bool>(lost->commit(folder.str() + "/1105-A.jpg")), !GetParam());
    // The folder's first use cleared the dead runs' names away, and only those.
    Names expected = {living, mine, "1101-A.jpg", "1102-1-A.jpg", "1103-A.jpg"};
    if (GetParam()) {  // unnamed files have no name to take
        expected.insert(expected.end(), {"1104-A.jpg", "1105-A.jpg"});
    }
    expected.insert(expected.end(), {"1201-A.jpg", "caf\xe9", "later", "notes.part", "stick"});
    EXPECT_EQ(listFolder(folder.path()), expected);
    EXPECT_TRUE(fs::is_directory(folder.path() / "1201-A.jpg"));
    EXPECT_TRUE(!stick.failure().empty() ||
                listFolder(folder.path() / "stick") == Names{"1204-A.jpg"});
    // How coarsely a folder keeps times is found there: 2 s on FAT32, finer on tmpfs.
    const test::ExfatStick fat(64, fs::temp_directory_path(), true, outside.path() / "fat");
    AtomicFileStore next({.unnamedFiles = GetParam()});  // of a run after the close
    for (const fs::path& where : {folder.path(), fat.path()}) {
        test::writeFile(where / "1106-A.jpg", "x");
        const auto copy = next.prepare(where.string(), "1106-A.jpg")->probe().copy;
        EXPECT_TRUE(!fat.failure().empty() ||
                    (copy && copy->timeGrain == (where == fat.path() ? 2 : 1)))
            << where;
    }
    if (!stick.failure().empty() || !fat.failure().empty()) {
        GTEST_SKIP() << "not tried across volumes or on FAT32: " << stick.failure()
                     << fat.failure();
    }
}

}  // namespace
}  // namespace zavoket
