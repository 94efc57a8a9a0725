#include <gtest/gtest.h>
#include <unistd.h>
#include <QtTest>
#include <QtWidgets>

#include <filesystem>
#include <future>

#include "window/main_form_fixture.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::listFolder;
using test::MainFormTest;

enum class Flush { Done, Slow, Hung };  // the file before's, when the close comes

struct CloseCase {
    const char* name;
    bool titleBar;  // the window manager's close instead of 終了
    bool stick;     // onto an exFAT stick that stops answering just before
    Flush flush = Flush::Done;
};

class CloseTest : public MainFormTest, public ::testing::WithParamInterface<CloseCase> {};

// clang-format off
INSTANTIATE_TEST_SUITE_P(During, CloseTest, ::testing::Values(CloseCase{"TheCloseButton", false, false},
    CloseCase{"TheTitleBarInASlowFlush", true, false, Flush::Slow}, CloseCase{"AHungStick", false, true},
    CloseCase{"AStickHungInAFlush", false, true, Flush::Hung}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_P(CloseTest, EndsAtOnceInTheMiddleOfAFileAndLeavesNothingOfIt) {
    std::optional<test::ExfatStick> stick;
    if (GetParam().stick && !stick.emplace().failure().empty()) {
        GTEST_SKIP() << "no exFAT file system here: " << stick->failure();
    }
    const fs::path where = stick ? stick->path() : folder.path();
    ASSERT_TRUE(dir()->setPath(QString::fromStdString(where.string())));
    test::writeFile(where / collection.name(3), "copy from an earlier batch");
    test::writeFile(where / "ノート.part", "a teacher's own file, named as ours end");
    const Flush flush = GetParam().flush;
    store.slowName = flush != Flush::Done ? collection.name(2) : "-";
    // A slow flush ends 100 ms into the close; a hung one goes no further until this test has
    // looked, as in a program gone.
    std::promise<void> closing, looked;
    store.whileNaming = [flush, c = closing.get_future().share(), l = looked.get_future().share()] {
        flush == Flush::Hung ? l.wait() : (c.wait(), std::this_thread::sleep_for(100ms));
    };
    // The stick answers again after a while whatever the window does: an ending that waits
    // for it fails this test instead of hanging it.
    std::promise<void> closed;
    std::jthread watchdog([&] {
        closed.get_future().wait_for(3s);
        stick ? stick->thaw() : void();
    });
    std::chrono::steady_clock::duration took{};
    const auto close = [&] {
        // The file in transfer, and the one behind it, are the program's own business until
        // they are whole and named.
        const auto names = listFolder(where);
        EXPECT_GE(std::ranges::count_if(names, isStoreTemporaryName), 1);
        // The file before has its name once its flush is done, on a thread of its own.
        EXPECT_TRUE(flush != Flush::Done ||
                    QTest::qWaitFor([&] { return fs::exists(where / collection.name(2)); }, 2000));
        ASSERT_TRUE(
            static_cast<FileList*>(fileList())->setPath(QByteArray::fromStdString(where.string())));
        EXPECT_EQ(fileList()->count(), flush == Flush::Done ? 5 : 4);
        // As a stick pulled half out, or a share whose link dropped.
        stick ? stick->freeze() : void();
        closing.set_value();
        const auto at = std::chrono::steady_clock::now();
        GetParam().titleBar ? (void)form->close() : click("CloseButton");
        took = std::chrono::steady_clock::now() - at;
        closed.set_value();
    };
    during(3, close, true);
    click("StartButton");
    EXPECT_TRUE(QTest::qWaitFor([this] { return !atTheEnding.empty(); }, 20000));
    server.release();
    watchdog.join();

    EXPECT_EQ(atTheEnding.size(), 1u);
    EXPECT_FALSE(form->isVisible());
    EXPECT_LT(took, 1s);
    EXPECT_EQ(test::readText(where / collection.name(3)), "copy from an earlier batch");
    // A close lets a whole file have its name, and takes the temporary one of the file in
    // transfer away, without a file let go on the window's thread.
    EXPECT_TRUE(stick || atTheEnding.at(0).size() == 5);
    EXPECT_EQ(store.closedOnBatchThread, 0);
    // Once a hung stick answers again, what the close left to another process is gone from it.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::ranges::none_of(listFolder(where), isStoreTemporaryName); }, 3000));
    // Nothing the transfer tells after the close moves the batch on.
    EXPECT_FALSE(QTest::qWaitFor([this] { return text("Progress") != "4/194"; }, 300));
    looked.set_value();
}

TEST_F(MainFormTest, OpeningAFolderRetargetsTheFileListAndTheRestOfARun) {
    // Named in Latin-1, as on an old stick: the name's bytes must reach the disk as they are.
    const std::string latin1 = "caf\xe9";
    fs::create_directory(folder.path() / latin1);
    test::writeFile(folder.path() / latin1 / "old.jpg", "x");
    dir()->setPath(QString::fromStdString(folder.str()));
    // Enter opens the highlighted folder.
    dir()->setCurrentItem(
        dir()
            ->findItems(QFile::decodeName(latin1.c_str()), Qt::MatchExactly | Qt::MatchRecursive)
            .value(0));
    // The folder is open once it has been read, on the list's own thread.
    during(20, [this] {
        QTest::keyClick(dir(), Qt::Key_Return);
        when([this] { return dir()->path().endsWith("caf\xe9"); }, [this] { server.release(); });
    });
    runBatch();

    EXPECT_EQ(dir()->path().toStdString(), fs::canonical(folder.path() / latin1).string());
    EXPECT_EQ(listFolder(folder.path()).size(), 20u + 1u);  // files 1 to 20 and the subfolder
    EXPECT_EQ(listFolder(folder.path() / latin1).size(), 194u - 20u + 1u);
    EXPECT_TRUE(std::ranges::equal(test::readText(folder.path() / latin1 / collection.name(20)),
                                   collection.bytes(20)));
    EXPECT_TRUE(QTest::qWaitFor([this] { return fileList()->count() == 175; }, 2000));
    // The newest file in sight, above a teacher's own.
    const auto* newest = fileList()->findItems(QString::fromStdString(collection.name(193)), {})[0];
    EXPECT_TRUE(fileList()->viewport()->rect().contains(fileList()->visualItemRect(newest)));
    // 新しいフォルダ (F7) makes a subfolder of the open folder and opens it.
    when([this] { return form->findChild<QInputDialog*>("NewFolder") != nullptr; },
         [this] {
             form->findChild<QInputDialog*>("NewFolder")->setTextValue("教材 2026");
             form->findChild<QInputDialog*>("NewFolder")->accept();
         });
    dir()->setFocus();
    QTest::keyClick(dir(), Qt::Key_F7);
    EXPECT_TRUE(QTest::qWaitFor([this] { return dir()->path().endsWith("/教材 2026"); }, 2000));
}

TEST_F(MainFormTest, TheDrivesAreTheDesktopsAndPickingOneOpensItsRoot) {
    // Plugged in while the window is open, where the desktop puts USB sticks.
    std::optional<test::ExfatStick> stick;
    if (::access("/media", W_OK) != 0 || !stick.emplace(64, "/media").failure().empty()) {
        GTEST_SKIP() << "no USB stick to list: "
                     << (stick ? stick->failure() : "/media is read-only");
    }
    const QString point = QString::fromStdString(stick->path().string());
    // A window opened while the stick does not answer (a stopped daemon, as a pulled stick or a
    // dead share leaves it) appears at once; the stick is listed once it answers again. A start
    // that waits for it ends once the stick is thawed instead of hanging.
    stick->freeze();
    std::promise<void> built;
    std::jthread watchdog([&, done = built.get_future()] { done.wait_for(3s), stick->thaw(); });
    const auto at = std::chrono::steady_clock::now();
    build();
    EXPECT_LT(std::chrono::steady_clock::now() - at, 1s);
    built.set_value();
    watchdog.join();
    auto* drive = child<QComboBox>("DriveList");
    ASSERT_TRUE(QTest::qWaitFor([&] { return drive->findData(point) >= 0; }, 3000));
    EXPECT_LT(drive->findData("/dev/shm"), 0);       // tmpfs, where the tests' folders are
    drive->setCurrentIndex(drive->findData(point));  // read on the list's own thread
    EXPECT_TRUE(QTest::qWaitFor([&] { return dir()->path() == point; }, 2000));
    // Pulled out: gone from the list once another drive is shown, and never opened again.
    drive->setCurrentIndex(drive->findData("/"));
    stick.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return drive->findData(point) < 0; }, 3000));
    EXPECT_EQ(drive->currentData(), "/");
    EXPECT_TRUE(QTest::qWaitFor([&] { return dir()->path() == "/"; }, 2000));
}

}  // namespace
}  // namespace zavoket
