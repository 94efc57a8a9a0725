#include "batch/batch_run.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "batch/state_messages.h"
#include "platform/atomic_file_store.h"
#include "platform/curl_transfer.h"
#include "support/event_queue_waiter.h"
#include "support/recording_view.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using test::listFolder;
using test::readFile;
using test::writeFile;

const sample::Collection& smallCollection() {
    static const sample::Collection collection(sample::Profile::Small, 7);
    return collection;
}

CurlTransferOptions shortLimits() {
    CurlTransferOptions options;
    options.connectTimeout = std::chrono::seconds(2);
    options.idleTimeout = std::chrono::seconds(1);
    return options;
}

std::string errorText() {
    return std::string(*stateMessage(kStateError));
}

// A port on which nothing listens.
int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// The real store, but the file named slowName takes a while to get its name: the moment between
// the end of its transfer and its name lasts long enough to act in.
class SlowNamingStore final : public FileStore {
  public:
    std::unique_ptr<IncomingFile> prepare(const std::string& folder) override {
        return std::make_unique<File>(*this, store.prepare(folder));
    }
    std::string slowName;

  private:
    struct File final : IncomingFile {
        File(SlowNamingStore& s, std::unique_ptr<IncomingFile> f) : owner(s), file(std::move(f)) {}
        bool restart(std::string_view type) override { return file->restart(type); }
        bool append(std::span<const char> bytes) override { return file->append(bytes); }
        bool complete() override { return file->complete(); }
        std::error_code commit(const std::string& path) override {
            if (!owner.slowName.empty() && path.ends_with("/" + owner.slowName)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
            return file->commit(path);
        }
        SlowNamingStore& owner;
        std::unique_ptr<IncomingFile> file;
    };
    AtomicFileStore store;
};

class BatchRunTest : public ::testing::Test {
  protected:
    BatchRunTest()
        : server(collection),
          transfer(waiter, shortLimits()),
          batch(catalogue, view, transfer, store, waiter) {
        catalogue.fill();
        view.turl = server.baseUrl();
        view.dir = folder.str();
    }

    [[nodiscard]] std::string urlPath(std::size_t index) const {
        return "/" + collection.urlPath(index);
    }
    [[nodiscard]] fs::path fileOf(std::size_t index, const fs::path& where) const {
        return where / catalogue.localName(index);
    }
    [[nodiscard]] bool holdsServedBytes(std::size_t index, const fs::path& where) const {
        return fs::is_regular_file(fs::symlink_status(fileOf(index, where))) &&
               readFile(fileOf(index, where)) == collection.bytes(index);
    }
    [[nodiscard]] std::vector<std::string> namesUpTo(std::size_t count) const {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < count; ++i) {
            names.push_back(catalogue.localName(i));
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // Stops the batch from inside the transfer of entry index, as a click during it would.
    void abortDuring(std::size_t index) {
        server.holdAt(urlPath(index), [this] {
            waiter.post([this] {
                batch.abort();
                server.release();
            });
        });
    }
    [[nodiscard]] bool sawState(std::int16_t state) const {
        const std::string text(*stateMessage(state));
        return std::find(view.sbHistory.begin(), view.sbHistory.end(), text) !=
               view.sbHistory.end();
    }

    const sample::Collection& collection = smallCollection();
    test::TestServer server;
    test::TempFolder folder;
    test::EventQueueWaiter waiter;
    CurlTransfer transfer;
    SlowNamingStore store;
    Catalogue catalogue;
    test::RecordingView view;
    BatchRun batch;
};

TEST_F(BatchRunTest, FullRunWritesEveryFileInOrderOverOneConnection) {
    batch.start();

    EXPECT_EQ(listFolder(folder.path()), namesUpTo(194));
    for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
        EXPECT_TRUE(holdsServedBytes(i, folder.path())) << catalogue.localName(i);
    }
    ASSERT_EQ(view.label3History.size(), 194u);
    for (std::size_t i = 0; i < 194; ++i) {
        EXPECT_EQ(view.label3History[i], std::to_string(i + 1) + "/194");
    }
    EXPECT_EQ(view.label2History.front(), "1101-A.jpgをダウンロードしています");
    EXPECT_EQ(view.label2, "終了しました");
    EXPECT_EQ(view.sb, "要求処理が完了し、すべてのデータが受信されました。");
    EXPECT_FALSE(view.timer1Enabled);
    EXPECT_FALSE(view.image3Visible);
    EXPECT_FALSE(view.label11Visible);
    EXPECT_EQ(view.refreshCount, 194);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 194u);
    EXPECT_EQ(requests.front().path, "/1101/1101-A.jpg");
    EXPECT_EQ(requests.back().path, "/5104/5104-2.mpg");
    EXPECT_EQ(server.connectionCount(), 1u);
}

TEST_F(BatchRunTest, AbortDuringAFileStopsRightAfterIt) {
    abortDuring(4);
    batch.start();

    EXPECT_EQ(view.label3, "5/194");
    EXPECT_EQ(view.label2, "中止しました");
    EXPECT_TRUE(view.label11Visible);
    EXPECT_FALSE(view.timer1Enabled);
    EXPECT_FALSE(view.image3Visible);
    EXPECT_EQ(listFolder(folder.path()), namesUpTo(5));
    EXPECT_TRUE(holdsServedBytes(4, folder.path()));
    EXPECT_FALSE(server.requested(urlPath(5)));
    EXPECT_EQ(server.requests().size(), 5u);
}

TEST_F(BatchRunTest, AnAbortShowsOnlyOnceTheEndedFileHasItsName) {
    store.slowName = catalogue.localName(5);
    abortDuring(5);
    view.onLabel2 = [this](const std::string& text) {
        if (text == "中止しました") {
            EXPECT_TRUE(holdsServedBytes(5, folder.path()));
        }
    };
    batch.start();

    EXPECT_EQ(view.label2, "中止しました");
    EXPECT_EQ(listFolder(folder.path()), namesUpTo(6));
}

TEST_F(BatchRunTest, TheEndingNamesAFileWhoseTransferEndedAndWritesNoOther) {
    store.slowName = catalogue.localName(4);
    server.holdAt(urlPath(5), [this] {
        waiter.post([this] {
            EXPECT_FALSE(fs::exists(fileOf(4, folder.path()))) << "named before the ending";
            batch.terminate();
            transfer.cancel();
            EXPECT_TRUE(batch.settle(std::chrono::steady_clock::now() + std::chrono::seconds(2)));
            server.release();
        });
    });
    batch.start();

    EXPECT_EQ(listFolder(folder.path()), namesUpTo(5));
    EXPECT_TRUE(holdsServedBytes(4, folder.path()));
    EXPECT_EQ(view.label2, catalogue.localName(5) + "をダウンロードしています");
}

TEST_F(BatchRunTest, AbortDuringTheLastFileEndsAsCompleted) {
    abortDuring(193);
    batch.start();

    EXPECT_EQ(view.label3, "194/194");
    EXPECT_EQ(view.label2, "終了しました");
    EXPECT_TRUE(view.label11Visible);
    EXPECT_EQ(listFolder(folder.path()).size(), 194u);
}

TEST_F(BatchRunTest, StopRequestsWhileIdleAreForgottenAtTheNextStart) {
    batch.abort();
    EXPECT_TRUE(view.label11Visible);
    batch.onStateChange(kStateError);
    EXPECT_EQ(view.sb, errorText());
    EXPECT_EQ(batch.abortFlag(), -1);

    batch.start();
    EXPECT_EQ(view.label3, "194/194");
    EXPECT_EQ(view.label2, "終了しました");
    EXPECT_EQ(listFolder(folder.path()).size(), 194u);
}

TEST_F(BatchRunTest, AStartDuringARunIsIgnored) {
    server.holdAt(urlPath(2), [this] {
        waiter.post([this] {
            batch.start();
            server.release();
        });
    });
    batch.start();

    ASSERT_EQ(view.label3History.size(), 194u);
    EXPECT_EQ(view.label3History[3], "4/194");
    EXPECT_EQ(server.requests().size(), 194u);
    EXPECT_EQ(view.label2, "終了しました");
}

TEST_F(BatchRunTest, AFolderOpenedDuringATransferReceivesThatFileAndTheRest) {
    // The folder is read when the file is written, after its transfer has ended.
    test::TempFolder other;
    server.holdAt(urlPath(9), [this, &other] {
        waiter.post([this, &other] {
            view.dir = other.str();
            server.release();
        });
    });
    batch.start();

    EXPECT_EQ(listFolder(folder.path()), namesUpTo(9));
    EXPECT_EQ(listFolder(other.path()).size(), 194u - 9u);
    for (std::size_t i = 9; i < Catalogue::kSize; ++i) {
        EXPECT_TRUE(holdsServedBytes(i, other.path())) << i;
    }
}

TEST_F(BatchRunTest, ErrorPagesAreNeverSavedAndTheEndingNamesThem) {
    writeFile(fileOf(2, folder.path()), "good copy from an earlier batch");
    server.setFault([this](const httplib::Request& request, httplib::Response& response) {
        if (request.path == urlPath(2)) {
            response.status = 404;
            response.set_content("<h1>Not Found</h1>", "text/html");
            return true;
        }
        if (request.path == urlPath(6)) {
            response.status = 500;
            response.set_content("<h1>Internal Server Error</h1>", "text/html");
            return true;
        }
        return false;
    });
    batch.start();

    EXPECT_EQ(readFile(fileOf(2, folder.path())),
              std::vector<char>(std::string_view("good copy from an earlier batch").begin(),
                                std::string_view("good copy from an earlier batch").end()));
    EXPECT_FALSE(fs::exists(fileOf(6, folder.path())));
    EXPECT_EQ(listFolder(folder.path()).size(), 193u);
    EXPECT_TRUE(holdsServedBytes(193, folder.path()));
    EXPECT_EQ(view.label3, "194/194");
    EXPECT_EQ(view.label2, "終了しました（失敗 2 件）");
    EXPECT_EQ(view.sb, "保存できなかったファイル: 1102-2-A.jpg, 1301-1-A.jpg");
    EXPECT_FALSE(sawState(kStateError));
}

TEST_F(BatchRunTest, ALongFailureListIsCutAfterFiveNames) {
    server.setFault([](const httplib::Request& request, httplib::Response& response) {
        if (request.path.ends_with(".mpg")) {
            response.status = 404;
            return true;
        }
        return false;
    });
    batch.start();

    EXPECT_EQ(view.label2, "終了しました（失敗 123 件）");
    EXPECT_EQ(view.sb,
              "保存できなかったファイル: 1103-1.mpg, 1302-1-A.mpg, 1302-2-A.mpg, "
              "1302-3-A.mpg, 1302-4-A.mpg ほか 118 件");
    EXPECT_EQ(listFolder(folder.path()).size(), 71u);
}

TEST_F(BatchRunTest, ExistingFilesAreReplacedExactlyAndLinksAreNotFollowed) {
    test::TempFolder outside;
    const fs::path target = outside.path() / "elsewhere.txt";
    writeFile(target, "outside the destination");
    writeFile(fileOf(0, folder.path()), std::string(1 << 20, 'x'));
    fs::create_symlink(target, fileOf(1, folder.path()));
    view.dir = folder.str() + "/";

    batch.start();

    EXPECT_TRUE(holdsServedBytes(0, folder.path()));
    EXPECT_TRUE(holdsServedBytes(1, folder.path()));
    EXPECT_EQ(readFile(target),
              std::vector<char>(std::string_view("outside the destination").begin(),
                                std::string_view("outside the destination").end()));
    EXPECT_EQ(listFolder(folder.path()), namesUpTo(194));
    EXPECT_EQ(view.label2, "終了しました");
}

TEST_F(BatchRunTest, AFullDiskKeepsOldFilesAndLeavesNoTemporaryFile) {
    const fs::path mountPoint = folder.path() / "small-disk";
    fs::create_directory(mountPoint);
    if (::mount("zavoket-test", mountPoint.c_str(), "tmpfs", 0, "size=160k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                     << "); needs root in a mount-capable sandbox";
    }
    struct Unmount {
        fs::path point;
        ~Unmount() { ::umount2(point.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    const std::string oldBytes(2000, 'o');
    writeFile(fileOf(150, mountPoint), oldBytes);
    view.dir = mountPoint.string();

    batch.start();

    EXPECT_TRUE(view.label2.starts_with("終了しました（失敗 ")) << view.label2;
    std::size_t saved = 0;
    for (const auto& name : listFolder(mountPoint)) {
        EXPECT_FALSE(isStoreTemporaryName(name)) << name;
    }
    for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
        const fs::path file = fileOf(i, mountPoint);
        if (i == 150 && fs::exists(file) && !holdsServedBytes(i, mountPoint)) {
            EXPECT_EQ(readFile(file), std::vector<char>(oldBytes.begin(), oldBytes.end()));
        } else if (fs::exists(file)) {
            EXPECT_TRUE(holdsServedBytes(i, mountPoint)) << i;
            ++saved;
        }
    }
    EXPECT_GT(saved, 0u);
    EXPECT_LT(saved, 194u);
}

TEST_F(BatchRunTest, ARefusedConnectionStopsTheBatchAtTheFirstFile) {
    view.turl = "http://127.0.0.1:" + std::to_string(closedPort()) + "/";
    batch.start();

    EXPECT_EQ(view.sb, errorText());
    EXPECT_EQ(view.label3, "1/194");
    EXPECT_EQ(view.label2, "中止しました");
    EXPECT_TRUE(listFolder(folder.path()).empty());
}

}  // namespace
}  // namespace zavoket

namespace zavoket {
namespace {

TEST_F(BatchRunTest, StateChangesShowTheirTextAndOnlyTheErrorAsksToStop) {
    batch.onStateChange(12);
    EXPECT_EQ(view.sb, "要求処理が完了し、すべてのデータが受信されました。");
    EXPECT_EQ(batch.abortFlag(), 0);
    batch.onStateChange(13);
    batch.onStateChange(-1);
    EXPECT_EQ(view.sb, "要求処理が完了し、すべてのデータが受信されました。");
    EXPECT_EQ(view.sbHistory.size(), 1u);
    batch.onStateChange(kStateError);
    EXPECT_EQ(view.sb, errorText());
    EXPECT_EQ(batch.abortFlag(), -1);
    EXPECT_FALSE(view.label11Visible);
}

}  // namespace
}  // namespace zavoket
