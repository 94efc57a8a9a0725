#include "platform/curl_transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/memory_sink.h"
#include "support/raw_server.h"
#include "support/test_server.h"

namespace zavoket {
namespace {

using States = std::vector<std::int16_t>;

const sample::Collection& collection() {
    static const sample::Collection c(sample::Profile::Small, 3);
    return c;
}

class CurlTransferTest : public ::testing::Test {
  protected:
    CurlTransferTest() : server(collection()), transfer(waiter, options()) {}

    static CurlTransferOptions options() {
        CurlTransferOptions o;
        o.connectTimeout = std::chrono::seconds(2);
        o.idleTimeout = std::chrono::seconds(1);
        return o;
    }

    FetchResult fetch(const std::string& path, States* states = nullptr) {
        sink = test::MemorySink();
        return transfer.fetch(
            server.baseUrl() + path,
            [states](ConnectionState state) {
                if (states != nullptr) {
                    states->push_back(static_cast<std::int16_t>(state));
                }
            },
            sink);
    }

    test::TestServer server;
    BlockingWaiter waiter;
    CurlTransfer transfer;
    test::MemorySink sink;
};

TEST_F(CurlTransferTest, StatesFollowTheConnectionAndAReusedOneSkipsConnecting) {
    States first;
    States second;
    ASSERT_EQ(fetch("1101\\1101-A.jpg", &first).outcome, FetchOutcome::Received);
    ASSERT_EQ(fetch("1102\\1102-1-A.jpg", &second).outcome, FetchOutcome::Received);
    EXPECT_EQ(first, (States{1, 2, 3, 4, 5, 6, 7, 8, 12}));
    EXPECT_EQ(second, (States{5, 6, 7, 8, 12}));
    EXPECT_EQ(server.connectionCount(), 1u);
}

TEST_F(CurlTransferTest, AConnectionTheServerClosesIsReportedAfterTheResponse) {
    server.setFault([](const httplib::Request& request, httplib::Response& response) {
        if (request.path == "/closing") {
            response.set_header("Connection", "close");
            response.set_content("bye", "text/plain");
            return true;
        }
        return false;
    });
    States closing;
    States next;
    ASSERT_EQ(fetch("closing", &closing).outcome, FetchOutcome::Received);
    ASSERT_EQ(fetch("1101/1101-A.jpg", &next).outcome, FetchOutcome::Received);
    EXPECT_EQ(closing, (States{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12}));
    EXPECT_EQ(next, (States{1, 2, 3, 4, 5, 6, 7, 8, 12}));
}

TEST_F(CurlTransferTest, TheBodyArrivesWholeAndBackslashesTravelAsSlashes) {
    const FetchResult result = fetch("1302\\1302-1-A.mpg");
    ASSERT_EQ(result.outcome, FetchOutcome::Received);
    EXPECT_EQ(result.httpStatus, 200);
    EXPECT_EQ(sink.bytes, collection().bytes(8));
    EXPECT_TRUE(sink.completed);
    EXPECT_TRUE(server.requested("/1302/1302-1-A.mpg"));
}

TEST_F(CurlTransferTest, OtherStatusesCompleteWithoutATransportError) {
    server.setFault([](const httplib::Request& request, httplib::Response& response) {
        if (request.path == "/gone") {
            response.status = 404;
            response.set_content("not here", "text/plain");
        } else if (request.path == "/empty") {
            response.status = 204;
        } else {
            return false;
        }
        return true;
    });
    States states;
    FetchResult result = fetch("gone", &states);
    EXPECT_EQ(result.outcome, FetchOutcome::HttpError);
    EXPECT_EQ(result.httpStatus, 404);
    EXPECT_TRUE(sink.bytes.empty());  // an error page never reaches the sink
    EXPECT_EQ(sink.restarts, 0);
    EXPECT_EQ(states.back(), 12);
    EXPECT_EQ(std::count(states.begin(), states.end(), 11), 0);

    result = fetch("empty");
    EXPECT_EQ(result.outcome, FetchOutcome::HttpError);
    EXPECT_EQ(result.httpStatus, 204);
}

TEST_F(CurlTransferTest, RedirectsAreFollowedWithinLimits) {
    server.setFault([](const httplib::Request& request, httplib::Response& response) {
        if (request.path == "/moved") {
            response.set_redirect("/1101/1101-A.jpg");
        } else if (request.path == "/moved-to-nothing") {
            response.set_redirect("/nothing-here");
        } else if (request.path == "/loop") {
            response.set_redirect("/loop");
        } else if (request.path == "/to-ftp") {
            response.set_redirect("ftp://127.0.0.1/file");
        } else {
            return false;
        }
        return true;
    });
    FetchResult result = fetch("moved");
    EXPECT_EQ(result.outcome, FetchOutcome::Received);
    EXPECT_EQ(sink.bytes, collection().bytes(0));

    result = fetch("moved-to-nothing");
    EXPECT_EQ(result.outcome, FetchOutcome::HttpError);
    EXPECT_EQ(result.httpStatus, 404);

    States states;
    EXPECT_EQ(fetch("loop", &states).outcome, FetchOutcome::Refused);
    EXPECT_EQ(std::count(states.begin(), states.end(), 11), 0);
    EXPECT_EQ(fetch("to-ftp").outcome, FetchOutcome::Refused);
}

TEST_F(CurlTransferTest, ABodyOverTheLimitIsRefused) {
    CurlTransferOptions small = options();
    small.maxBodyBytes = 1000;
    CurlTransfer limited(waiter, small);
    server.setFault([](const httplib::Request& request, httplib::Response& response) {
        if (request.path != "/unsized") {
            return false;
        }
        response.set_chunked_content_provider("video/mpeg",
                                              [](std::size_t offset, httplib::DataSink& sink) {
                                                  const std::string chunk(600, 'c');
                                                  if (offset >= 3000) {
                                                      sink.done();
                                                      return true;
                                                  }
                                                  return sink.write(chunk.data(), chunk.size());
                                              });
        return true;
    });
    const auto none = [](ConnectionState) {};
    // One with a length the server announces, one that only shows its size as it comes.
    test::MemorySink announced;
    EXPECT_EQ(limited.fetch(server.baseUrl() + "1101/1101-A.jpg", none, announced).outcome,
              FetchOutcome::Refused);
    EXPECT_TRUE(announced.bytes.empty());
    test::MemorySink unsized;
    EXPECT_EQ(limited.fetch(server.baseUrl() + "unsized", none, unsized).outcome,
              FetchOutcome::Refused);
    EXPECT_FALSE(unsized.completed);
}

TEST_F(CurlTransferTest, CancelEndsAFetchWhileTheServerStalls) {
    server.setFault([this](const httplib::Request& request, httplib::Response&) {
        if (request.path != "/stall") {
            return false;
        }
        server.stall(std::chrono::seconds(20));
        return false;
    });
    CurlTransferOptions patient = options();
    patient.idleTimeout = std::chrono::seconds(30);
    CurlTransfer slow(waiter, patient);
    std::chrono::steady_clock::time_point cancelledAt;
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancelledAt = std::chrono::steady_clock::now();
        slow.cancel();
    });
    test::MemorySink nothing;
    const FetchResult result = slow.fetch(
        server.baseUrl() + "stall", [](ConnectionState) {}, nothing);
    const auto returnedAt = std::chrono::steady_clock::now();
    closer.join();
    EXPECT_EQ(result.outcome, FetchOutcome::Cancelled);
    // Far below the server's stall and the idle limit: the wait did not depend on the server.
    EXPECT_LT(returnedAt - cancelledAt, std::chrono::seconds(2));
}

}  // namespace
}  // namespace zavoket

namespace zavoket {
namespace {

TEST(CurlTransferFailureTest, AResetMidBodyIsATransportError) {
    test::RawServer server([](int socket, const std::string&) {
        test::RawServer::sendAll(
            socket, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'r'));
        test::RawServer::reset(socket);
        return false;
    });
    BlockingWaiter waiter;
    CurlTransfer transfer(waiter);
    States states;
    test::MemorySink sink;
    const FetchResult result = transfer.fetch(
        server.baseUrl() + "1101/1101-A.jpg",
        [&](ConnectionState s) { states.push_back(static_cast<std::int16_t>(s)); }, sink);
    EXPECT_EQ(result.outcome, FetchOutcome::TransportError);
    EXPECT_NE(result.detail.find("reset"), std::string::npos) << result.detail;
    EXPECT_FALSE(sink.completed);
    EXPECT_EQ(states.back(), 11);
}

}  // namespace
}  // namespace zavoket

namespace zavoket {
namespace {

TEST_F(CurlTransferTest, ASlowTransferThatKeepsDeliveringOutlastsTheIdleLimit) {
    server.setFault([](const httplib::Request& request, httplib::Response& response) {
        if (request.path != "/drip") {
            return false;
        }
        // Ten drops 300 ms apart: three seconds in all, against an idle limit of one.
        response.set_content_provider(
            1000, "video/mpeg", [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset > 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                }
                const std::string drop(100, 'd');
                return sink.write(drop.data(), drop.size());
            });
        return true;
    });
    const FetchResult result = fetch("drip");
    EXPECT_EQ(result.outcome, FetchOutcome::Received) << result.detail;
    EXPECT_EQ(sink.bytes, std::vector<char>(1000, 'd'));
}

}  // namespace
}  // namespace zavoket

namespace zavoket {
namespace {

// Stands for a disk that fills up half way through a file.
class FullDiskSink final : public BodySink {
  public:
    bool restart(std::string_view) override { return true; }
    bool append(std::span<const char>) override { return false; }
    bool complete() override { return true; }
};

TEST_F(CurlTransferTest, ASinkThatCannotTakeTheBodyFailsTheFetchButNotTheConnection) {
    FullDiskSink full;
    States states;
    const FetchResult result = transfer.fetch(
        server.baseUrl() + "1101/1101-A.jpg",
        [&](ConnectionState s) { states.push_back(static_cast<std::int16_t>(s)); }, full);
    EXPECT_EQ(result.outcome, FetchOutcome::SinkFailed);
    EXPECT_EQ(std::count(states.begin(), states.end(), 11), 0);
    EXPECT_EQ(fetch("1101/1101-A.jpg").outcome, FetchOutcome::Received);
}

}  // namespace
}  // namespace zavoket
