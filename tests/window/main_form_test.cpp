#include "window/main_form.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
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
#include <signal.h>
#include <sys/mount.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stop_token>
#include <thread>

#include "platform/atomic_file_store.h"
#include "support/process.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "window/folder_lists.h"

namespace zavoket {
namespace {

namespace fs = std::filesystem;
using test::printed;
using namespace std::chrono_literals;
using test::listFolder;
using test::readFile;

const sample::Collection& collection() {
    static const sample::Collection c(sample::Profile::Small, 11);
    return c;
}

class MainFormTest : public ::testing::Test {
  protected:
    MainFormTest() : server(collection()) { build(); }

    // A new window, as a user with that face or that colour scheme would see it.
    void build(const QString& face = {}) {
        form.reset();
        MainFormOptions options;
        options.face = face;
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
        if (control.visible) {
            // Named for a screen reader: by its text, its heading or what it shows.
            EXPECT_FALSE(
                QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).isEmpty());
        }
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
    EXPECT_EQ(label("Label1")->buddy(), child<QWidget>("Drive"));
    EXPECT_EQ(label("Label8")->buddy(), fileList());
}

// Where a text stands and what it stands on.
struct Reading {
    const char* control;
    QPalette::ColorRole text;
    const char* backdrop;  // the control whose colour is behind the text
    QPalette::ColorRole behind;
};
const Reading kReadings[] = {
    {"Label5", QPalette::WindowText, "Label5", QPalette::Window},
    {"Label9", QPalette::WindowText, "Label6", QPalette::Window},
    {"Label7", QPalette::WindowText, "MainForm", QPalette::Window},
    {"Label11", QPalette::WindowText, "MainForm", QPalette::Window},
    {"Label1", QPalette::WindowText, "Label1", QPalette::Window},
    {"Label3", QPalette::WindowText, "Label3", QPalette::Window},
    {"Label2", QPalette::WindowText, "Label2", QPalette::Window},
    {"CGet", QPalette::ButtonText, "CGet", QPalette::Button},
    {"Drive", QPalette::ButtonText, "Drive", QPalette::Button},
    {"Drive", QPalette::Text, "Drive", QPalette::Base},
    {"Dir", QPalette::Text, "Dir", QPalette::Base},
    {"File", QPalette::Text, "File", QPalette::Base},
    {"SB", QPalette::WindowText, "SB", QPalette::Window},
};

double luminance(const QColor& colour) {
    auto linear = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

TEST_F(MainFormTest, EveryTextStaysReadableUnderADarkColourScheme) {
    const QPalette before = QApplication::palette();
    QPalette dark(QColor(230, 230, 230), QColor(53, 53, 53));  // light text on dark grey
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    build();
    QApplication::setPalette(before);

    EXPECT_EQ(form->palette().color(QPalette::Window), QColor(224, 224, 224));
    for (const Reading& reading : kReadings) {
        SCOPED_TRACE(reading.control);
        const QColor text = child<QWidget>(reading.control)->palette().color(reading.text);
        const QWidget* backdrop = std::string_view(reading.backdrop) == "MainForm"
                                      ? form.get()
                                      : child<QWidget>(reading.backdrop);
        const QColor behind = backdrop->palette().color(reading.behind);
        const double lighter = std::max(luminance(text), luminance(behind));
        const double darker = std::min(luminance(text), luminance(behind));
        EXPECT_GE((lighter + 0.05) / (darker + 0.05), 4.5);
    }
}

TEST_F(MainFormTest, EveryCaptionFitsItsBoxWithEachJapaneseFace) {
    Catalogue catalogue;
    catalogue.fill();
    for (const char* face : {"IPAPGothic", "Noto Sans CJK JP"}) {
        if (!QFontDatabase::families().contains(face)) {
            ADD_FAILURE() << face << " is not installed; ./setup installs it";
            continue;
        }
        SCOPED_TRACE(face);
        build(face);
        const QObjectList& stacked = form->children();
        for (const Control& control : kControls) {
            auto* caption = qobject_cast<QLabel*>(child<QWidget>(control.name));
            if (caption == nullptr || (caption->text().isEmpty() && caption != label("Label2"))) {
                continue;
            }
            SCOPED_TRACE(control.name);
            // An opaque label in front hides what runs under it; a framed label's text is
            // indented as Qt documents it.
            QRect room = caption->contentsRect();
            for (auto* front : form->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
                if (stacked.indexOf(front) > stacked.indexOf(caption) &&
                    front->autoFillBackground() && front->isVisibleTo(form.get()) &&
                    front->y() > caption->y() && front->y() < caption->geometry().bottom()) {
                    room.setBottom(std::min(room.bottom(), front->y() - caption->y() - 1));
                }
            }
            const int indent = caption->indent() >= 0 ? caption->indent()
                               : caption->frameWidth() > 0
                                   ? caption->fontMetrics().horizontalAdvance('x') / 2
                                   : 0;
            room.adjust(0, indent + caption->margin(), 0, -caption->margin());
            QStringList texts = {caption->text().trimmed()};
            if (caption == label("Label2")) {
                for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
                    texts.append(QString::fromStdString(catalogue.localName(i)) +
                                 "をダウンロードしています");
                }
            } else if (caption == label("Label3")) {
                texts = {"194/194"};
            }
            const int flags = static_cast<int>(caption->alignment()) |
                              (caption->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine);
            for (const QString& text : texts) {
                const QRect needed = caption->fontMetrics().boundingRect(room, flags, text);
                EXPECT_TRUE(room.contains(needed)) << text.toStdString();
            }
        }
    }
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

template <typename Condition>
bool within(std::chrono::seconds limit, Condition condition) {
    for (const auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(50ms)) {
        if (condition()) {
            return true;
        }
    }
    return condition();
}

TEST(WindowManagerTest, TheWindowIsCentredWithItsFrameAndTitleBar) {
    if (printed("for p in Xvfb openbox xprop xwininfo; do command -v $p; done | wc -l") != "4\n") {
        GTEST_SKIP() << "needs Xvfb, openbox and x11-utils";
    }
    // A display no running server holds; a lock or socket a killed one left is no obstacle.
    auto taken = [](int display) {
        std::ifstream lock("/tmp/.X" + std::to_string(display) + "-lock");
        long owner = 0;
        return lock >> owner && owner > 0 && ::kill(static_cast<pid_t>(owner), 0) == 0;
    };
    int number = 40;
    while (number < 90 && taken(number)) {
        ++number;
    }
    const std::string display = ":" + std::to_string(number);
    const std::string x = "DISPLAY=" + display + " ";
    test::Process server({"Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!within(10s, [&] {
            return server.running() &&
                   printed(x + "xprop -root 2>/dev/null | head -c1").size() == 1;
        })) {
        GTEST_SKIP() << "Xvfb could not start a display here";
    }
    test::Process openbox({"openbox"}, {"DISPLAY=" + display});
    ASSERT_TRUE(within(10s, [&] {
        return printed(x + "xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") !=
               std::string::npos;
    }));
    test::TempFolder folder;
    test::Process window({ZAVOKET_PROGRAM}, {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"},
                         folder.str());

    // The frame's left, right, top and bottom, and where the client area stands.
    int l = 0, r = 0, t = 0, b = 0, clientX = 0, clientY = 0;
    auto measure = [&] {
        const std::string tree = printed(x + "xwininfo -root -tree");
        const auto at = tree.find("\"Zavoket\": (");
        if (at == std::string::npos) {
            return false;
        }
        const auto start = tree.rfind("0x", at);
        const std::string id = tree.substr(start, tree.find(' ', start) - start);
        return std::sscanf(printed(x + "xprop -id " + id + " _NET_FRAME_EXTENTS").c_str(),
                           "_NET_FRAME_EXTENTS(CARDINAL) = %d, %d, %d, %d", &l, &r, &t, &b) == 4 &&
               std::sscanf(printed(x + "xwininfo -id " + id + " | grep Absolute").c_str(),
                           " Absolute upper-left X: %d Absolute upper-left Y: %d", &clientX,
                           &clientY) == 2;
    };
    ASSERT_TRUE(within(10s, measure)) << "the window did not appear framed";
    // Settled: the window moves once when the frame becomes known.
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(measure());
    EXPECT_GT(t, 0) << "openbox gives a title bar";
    EXPECT_EQ(clientX - l, (1024 - (678 + l + r)) / 2);
    EXPECT_EQ(clientY - t, (768 - (372 + t + b)) / 2);
}

}  // namespace
}  // namespace zavoket
