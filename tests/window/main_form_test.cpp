#include "window/main_form.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stop_token>
#include <thread>

#include "platform/atomic_file_store.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "window/folder_lists.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using test::listFolder;
using test::readFile;

const sample::Collection& collection() {
    static const sample::Collection c(sample::Profile::Small, 11);
    return c;
}

class MainFormTest : public ::testing::Test {
  protected:
    MainFormTest() : server(collection()) {
        MainFormOptions options;
        options.baseUrl = server.baseUrl();
        options.transfer.connectTimeout = std::chrono::seconds(2);
        options.transfer.idleTimeout = std::chrono::seconds(2);
        // Files are received under temporary names, as on a USB stick: what a user could see
        // of them is what these tests look for.
        options.files.unnamedFiles = false;
        options.endProgram = [this] {
            ++endings;
            atTheEnding = listFolder(folder.path());
        };
        form = std::make_unique<MainForm>(std::move(options));
        form->show();
        dir()->setPath(QString::fromStdString(folder.str()));
    }

    template <typename T>
    T* child(const char* name) const {
        T* found = form->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLabel* label(const char* name) const { return child<QLabel>(name); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    FolderList* dir() const { return child<FolderList>("Dir"); }
    QListWidget* fileList() const { return child<QListWidget>("File"); }
    QString statusText() const { return child<QStatusBar>("SB")->currentMessage(); }

    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    // Runs on the window's thread while the server holds the response for entry index, before
    // it or, midBody, once half the body has had a moment to reach the file.
    void during(std::size_t index, std::function<void()> action, bool midBody = false) {
        auto post = [this, action = std::move(action), midBody] {
            QMetaObject::invokeMethod(
                form.get(), [action, midBody] { QTimer::singleShot(midBody ? 100 : 0, action); },
                Qt::QueuedConnection);
        };
        const std::string path = "/" + collection().urlPath(index);
        midBody ? server.holdMidBody(path, std::move(post)) : server.holdAt(path, std::move(post));
    }
    // Opens a folder as a user does: highlights its item in Dir and presses Enter.
    void openInDir(const QString& name) {
        const auto items = dir()->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        ASSERT_EQ(items.size(), 1) << name.toStdString();
        dir()->setCurrentItem(items.front());
        QTest::keyClick(dir(), Qt::Key_Return);
    }
    [[nodiscard]] bool holdsServedBytes(std::size_t index, const fs::path& where) const {
        const fs::path file = where / collection().name(index);
        return fs::exists(file) && readFile(file) == collection().bytes(index);
    }

    test::TestServer server;
    test::TempFolder folder;
    int endings = 0;
    std::vector<std::string> atTheEnding;  // the folder as the process would leave it
    std::unique_ptr<MainForm> form;
};

struct Control {
    const char* name;
    int left, top, width, height;  // pixels
    const char* text;
    bool visible;
};

// The design table, in pixels (twips / 15).
const Control kControls[] = {
    {"Label5", 24, 16, 633, 33, "Viewer for", true},
    {"Label4", 24, 32, 633, 33, "「Velumio」\r\n", true},
    {"Label6", 24, 56, 633, 17, "画像ファイルダウンロードツール", true},
    {"Label9", 480, 64, 81, 17, "Ver.１.0", true},
    {"Label10", 576, 64, 121, 17, nullptr, true},
    {"Label7", 24, 80, 633, 52,
     "最初に画像を保存するフォルダを指定します。次にインターネットに接続してあることを確認して、"
     "ダウンロード開始ボタンをクリックします。そうすると画像のダウンロードが開始されます。"
     "１９４ファイル約４５０MBあります。時間の余裕のあるときに実行してください。",
     true},
    {"Label11", 384, 128, 265, 52,
     "中止ボタンをクリックしても動画をダウンロード中は中止処理に時間がかかる場合があります。",
     false},
    {"Label1", 24, 136, 223, 16, "保存するディレクトリ", true},
    {"Label8", 248, 136, 123, 20, "フォルダ", true},
    {"Drive", 24, 152, 225, 20, nullptr, true},
    {"Dir", 24, 176, 225, 160, nullptr, true},
    {"File", 248, 152, 121, 186, nullptr, true},
    {"Image4", 384, 168, 32, 32, nullptr, true},
    {"Image3", 392, 176, 21, 17, nullptr, true},
    {"Image5", 608, 168, 32, 32, nullptr, true},
    {"Label3", 376, 232, 65, 17, "0/194", true},
    {"Label2", 444, 232, 217, 16, "", true},
    {"CGet", 376, 272, 129, 25, "ダウンロード開始", true},
    {"CAbort", 536, 272, 129, 25, "ダウンロード中止", true},
    {"CClose", 472, 312, 113, 25, "終了", true},
    {"SB", 0, 347, 678, 25, nullptr, true},
    {"TURL", 8, 376, 249, 18, nullptr, false},
    {"Image1", 408, 480, 32, 32, nullptr, false},
    {"Image2", 560, 464, 32, 32, nullptr, false},
};

TEST_F(MainFormTest, EveryControlStandsWhereTheDesignPutsIt) {
    EXPECT_EQ(form->windowTitle(), "Zavoket");
    EXPECT_EQ(form->size(), QSize(678, 372));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form->palette().color(QPalette::Window), QColor(224, 224, 224));
    for (const Control& control : kControls) {
        SCOPED_TRACE(control.name);
        auto* widget = child<QWidget>(control.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(),
                  QRect(control.left, control.top, control.width, control.height));
        EXPECT_EQ(widget->isVisibleTo(form.get()), control.visible);
        if (control.text == nullptr) {
            continue;
        }
        if (auto* asLabel = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(asLabel->text(), QString::fromUtf8(control.text));
        } else if (auto* asButton = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(asButton->text(), QString::fromUtf8(control.text));
        }
    }
    EXPECT_EQ(child<QLineEdit>("TURL")->text(), QString::fromStdString(server.baseUrl()));
    EXPECT_EQ(statusText(), "");
}

TEST_F(MainFormTest, BandsBoxesAndButtonsHaveTheirColours) {
    for (const char* name : {"Label5", "Label4", "Label6", "Label1", "Label8"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(label(name)->autoFillBackground());
        EXPECT_EQ(label(name)->palette().color(QPalette::Window), QColor(64, 64, 64));
        EXPECT_EQ(label(name)->palette().color(QPalette::WindowText), QColor(Qt::white));
    }
    for (const char* name : {"Label3", "Label2"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(label(name)->palette().color(QPalette::Window), QColor(255, 255, 255));
        EXPECT_EQ(label(name)->frameShape(), QFrame::Box);
        EXPECT_TRUE(label(name)->alignment() & Qt::AlignHCenter);
    }
    for (const char* name : {"Label9", "Label10", "Label7", "Label11"}) {
        EXPECT_FALSE(label(name)->autoFillBackground()) << name;
    }
    EXPECT_EQ(label("Label9")->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_TRUE(label("Label7")->wordWrap());
    for (const char* name : {"CGet", "CAbort", "CClose"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(button(name)->palette().color(QPalette::Button), QColor(224, 224, 224));
        EXPECT_FALSE(button(name)->isDefault());
        EXPECT_FALSE(button(name)->autoDefault());
    }
    EXPECT_EQ(label("Label4")->font().pixelSize(), 24);
    EXPECT_EQ(label("Label5")->font().pixelSize(), 16);
    EXPECT_EQ(dir()->font().family(), QFont("IPAGothic").family());
}

TEST_F(MainFormTest, DrawnControlsOverlapInTheDesignOrder) {
    // Later siblings are drawn in front.
    const QObjectList& children = form->children();
    auto place = [&](const char* name) {
        return children.indexOf(form->findChild<QObject*>(name));
    };
    const char* backToFront[] = {"Label1", "Label2", "Image3",  "Image1", "Image2", "Image4",
                                 "Image5", "Label3", "Label5",  "Label4", "Label6", "Label7",
                                 "Label8", "Label9", "Label10", "Label11"};
    for (std::size_t i = 1; i < std::size(backToFront); ++i) {
        EXPECT_LT(place(backToFront[i - 1]), place(backToFront[i])) << backToFront[i];
    }
}

TEST_F(MainFormTest, FocusMovesThroughButtonsThenTheLists) {
    QWidget* focus = button("CGet");
    std::vector<QString> order;
    for (int i = 0; i < 6; ++i) {
        order.push_back(focus->objectName());
        focus = focus->nextInFocusChain();
        while (focus->focusPolicy() == Qt::NoFocus || !focus->isVisibleTo(form.get()) ||
               focus->parentWidget() != form.get()) {
            focus = focus->nextInFocusChain();
        }
    }
    EXPECT_EQ(order, (std::vector<QString>{"CGet", "CAbort", "CClose", "Drive", "Dir", "File"}));
}

TEST_F(MainFormTest, LoadingCentresTheWindowAndSharesTheClosedFolder) {
    const QRect screen = form->screen()->geometry();
    const QRect outer = form->frameGeometry();
    EXPECT_NEAR(outer.left() - screen.left(), (screen.width() - outer.width()) / 2.0, 0.5);
    EXPECT_NEAR(outer.top() - screen.top(), (screen.height() - outer.height()) / 2.0, 0.5);
    EXPECT_EQ(label("Image5")->pixmap().cacheKey(), label("Image2")->pixmap().cacheKey());
    EXPECT_NE(label("Image1")->pixmap().cacheKey(), label("Image2")->pixmap().cacheKey());
    auto* timer = child<QTimer>("Timer1");
    EXPECT_EQ(timer->interval(), 200);
    EXPECT_FALSE(timer->isActive());
}

TEST_F(MainFormTest, StartRunsTheWholeBatchIntoTheOpenFolder) {
    click("CGet");

    EXPECT_EQ(label("Label3")->text(), "194/194");
    EXPECT_EQ(label("Label2")->text(), "終了しました");
    EXPECT_EQ(statusText(), "要求処理が完了し、すべてのデータが受信されました。");
    EXPECT_EQ(listFolder(folder.path()).size(), 194u);
    EXPECT_TRUE(holdsServedBytes(0, folder.path()));
    EXPECT_TRUE(holdsServedBytes(193, folder.path()));
    // The list follows a moment after the last file.
    EXPECT_TRUE(QTest::qWaitFor([this] { return fileList()->count() == 194; }, 2000));
    EXPECT_FALSE(label("Image3")->isVisibleTo(form.get()));
    EXPECT_FALSE(child<QTimer>("Timer1")->isActive());
    EXPECT_EQ(server.connectionCount(), 1u);
}

TEST_F(MainFormTest, AbortDuringAFileStopsAfterItAndASecondStartIsIgnored) {
    // One hold at a time: the second is armed once the first has fired.
    during(1, [this] {
        click("CGet");
        during(6, [this] {
            EXPECT_TRUE(child<QTimer>("Timer1")->isActive());
            EXPECT_TRUE(label("Image3")->isVisibleTo(form.get()));
            click("CAbort");
            server.release();
        });
        server.release();
    });
    click("CGet");

    EXPECT_EQ(label("Label3")->text(), "7/194");
    EXPECT_EQ(label("Label2")->text(), "中止しました");
    EXPECT_TRUE(label("Label11")->isVisibleTo(form.get()));
    EXPECT_EQ(listFolder(folder.path()).size(), 7u);
    EXPECT_EQ(server.requests().size(), 7u);
}

TEST_F(MainFormTest, CloseDuringAStalledTransferEndsAtOnceAndWritesNothingMore) {
    const std::string oldCopy = "copy from an earlier batch";
    test::writeFile(folder.path() / collection().name(3), oldCopy);
    std::chrono::steady_clock::time_point closedAt;
    during(
        3,
        [this, &closedAt] {
            // The file in transfer is the program's own business until it is whole.
            const auto names = listFolder(folder.path());
            EXPECT_EQ(std::count_if(names.begin(), names.end(), isStoreTemporaryName), 1);
            ASSERT_TRUE(
                static_cast<FileList*>(fileList())->setPath(QString::fromStdString(folder.str())));
            for (int row = 0; row < fileList()->count(); ++row) {
                EXPECT_FALSE(isStoreTemporaryName(fileList()->item(row)->text().toStdString()));
            }
            closedAt = std::chrono::steady_clock::now();
            click("CClose");  // the server keeps holding the rest of the body
        },
        true);
    click("CGet");
    const auto returnedAt = std::chrono::steady_clock::now();

    EXPECT_EQ(endings, 1);
    EXPECT_FALSE(form->isVisible());
    // The server would have held on for ten seconds.
    EXPECT_LT(returnedAt - closedAt, std::chrono::seconds(5));
    EXPECT_EQ(readFile(folder.path() / collection().name(3)),
              std::vector<char>(oldCopy.begin(), oldCopy.end()));
    EXPECT_EQ(atTheEnding.size(), 4u) << "the temporary name of the file in transfer stayed";
    EXPECT_EQ(listFolder(folder.path()).size(), 4u);
    EXPECT_FALSE(server.requested("/" + collection().urlPath(4)));
    server.release();
}

TEST_F(MainFormTest, CloseEndsWithinASecondWhenTheDestinationStopsAnswering) {
    test::ExfatMount stick;
    if (!stick.failure().empty()) {
        GTEST_SKIP() << "no exFAT file system here: " << stick.failure();
    }
    ASSERT_TRUE(dir()->setPath(QString::fromStdString(stick.path().string())));
    // The stick answers again after a while whatever the window does: an ending that waits
    // for it fails this test instead of hanging it.
    std::jthread watchdog([&stick](std::stop_token stop) {
        std::mutex mutex;
        std::condition_variable_any never;
        std::unique_lock lock(mutex);
        never.wait_for(lock, stop, std::chrono::seconds(3), [] { return false; });
        stick.thaw();
    });
    std::chrono::steady_clock::duration took{};
    during(
        3,
        [this, &stick, &took] {
            stick.freeze();  // as a stick pulled half out, or a share whose link dropped
            const auto clicked = std::chrono::steady_clock::now();
            click("CClose");
            took = std::chrono::steady_clock::now() - clicked;
            stick.thaw();
        },
        true);
    click("CGet");
    server.release();

    EXPECT_EQ(endings, 1);
    EXPECT_LT(took, std::chrono::seconds(1));
}

TEST_F(MainFormTest, TheTitleBarsCloseEndsTheRunToo) {
    during(2, [this] { form->close(); });
    click("CGet");
    server.release();
    EXPECT_EQ(endings, 1);
    EXPECT_EQ(listFolder(folder.path()).size(), 2u);
    EXPECT_FALSE(server.requested("/" + collection().urlPath(3)));
}

TEST_F(MainFormTest, OpeningAFolderRetargetsTheFileListAndTheDestination) {
    fs::create_directory(folder.path() / "pictures");
    fs::create_directory(folder.path() / "other");
    test::writeFile(folder.path() / "pictures" / "old.jpg", "x");
    dir()->setPath(QString::fromStdString(folder.str()));

    // Highlighting alone changes nothing.
    const auto items = dir()->findItems("pictures", Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(items.size(), 1);
    dir()->setCurrentItem(items.front());
    EXPECT_EQ(dir()->path().toStdString(), fs::canonical(folder.path()).string());
    EXPECT_EQ(fileList()->count(), 0);

    openInDir("pictures");
    EXPECT_EQ(dir()->path().toStdString(), fs::canonical(folder.path() / "pictures").string());
    ASSERT_EQ(fileList()->count(), 1);
    EXPECT_EQ(fileList()->item(0)->text(), "old.jpg");
    // The open path stays listed above the subfolders, so the user can climb back up.
    EXPECT_EQ(dir()
                  ->findItems(QString::fromStdString(folder.path().filename().string()),
                              Qt::MatchExactly | Qt::MatchRecursive)
                  .size(),
              1);
}

TEST_F(MainFormTest, AFolderOpenedDuringARunReceivesTheRemainingFiles) {
    fs::create_directory(folder.path() / "later");
    dir()->setPath(QString::fromStdString(folder.str()));
    during(20, [this] {
        openInDir("later");
        server.release();
    });
    click("CGet");

    EXPECT_EQ(listFolder(folder.path()).size(), 20u + 1u);  // files 1 to 20 and the subfolder
    EXPECT_EQ(listFolder(folder.path() / "later").size(), 194u - 20u);
    EXPECT_TRUE(holdsServedBytes(20, folder.path() / "later"));
    EXPECT_TRUE(QTest::qWaitFor([this] { return fileList()->count() == 174; }, 2000));
}

TEST_F(MainFormTest, PickingAVolumeOpensItsRootAndAVanishedOneChangesNothing) {
    const fs::path stick = folder.path() / "stick";
    fs::create_directory(stick);
    if (::mount("zavoket-stick", stick.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    test::writeFile(stick / "on-the-stick.txt", "x");
    MainFormOptions options;
    options.baseUrl = server.baseUrl();
    MainForm withStick(std::move(options));
    auto* drive = withStick.findChild<QComboBox*>("Drive");
    auto* picker = withStick.findChild<FolderList*>("Dir");
    auto* files = withStick.findChild<QListWidget*>("File");
    const int stickIndex = drive->findData(QString::fromStdString(stick.string()));
    ASSERT_GE(stickIndex, 0);

    drive->setCurrentIndex(stickIndex);
    EXPECT_EQ(picker->path().toStdString(), stick.string());
    ASSERT_EQ(files->count(), 1);
    EXPECT_EQ(files->item(0)->text(), "on-the-stick.txt");

    const int rootIndex = drive->findData("/");
    ASSERT_GE(rootIndex, 0);
    drive->setCurrentIndex(rootIndex);
    EXPECT_EQ(picker->path(), "/");

    // The stick is pulled out while still listed.
    ASSERT_EQ(::umount2(stick.c_str(), MNT_DETACH), 0);
    fs::remove(stick);
    drive->setCurrentIndex(stickIndex);
    EXPECT_EQ(drive->currentIndex(), stickIndex);
    EXPECT_EQ(picker->path(), "/");
}

TEST_F(MainFormTest, TheDiskMovesDuringARunAndKeepsItsPlaceBetweenRuns) {
    const int designLeft = label("Image3")->x();
    during(1, [this] { QTimer::singleShot(700, form.get(), [this] { server.release(); }); });
    click("CGet");
    const int afterFirst = label("Image3")->x();
    EXPECT_GT(afterFirst, designLeft);  // three ticks or so while file 2 was held

    int atSecondStart = -1;
    during(0, [this, &atSecondStart] {
        atSecondStart = label("Image3")->x();
        server.release();
    });
    click("CGet");
    EXPECT_EQ(atSecondStart, afterFirst);
}

}  // namespace
}  // namespace zavoket
