#include <gtest/gtest.h>
#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

#include <filesystem>
#include <map>

#include "window/main_form_fixture.h"
#include "window/sentences.h"

namespace zavoket {
namespace {

// The desktop, on a session bus of the test's own: a taskbar that shows the program's entry,
// and a notification server.
class Desktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    std::vector<QVariantMap> updates;  // of the program's entry
    QStringList notes;                 // what each says, and whose it is
  public slots:
    void Update(const QString&, const QVariantMap& properties) { updates.push_back(properties); }
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        notes.append(app + '|' + summary + '|' + body + '|' + hints["desktop-entry"].toString());
        return notes.size();
    }
};

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::listFolder;
using test::MainFormTest;

struct Control {
    const char *name, *text;
    bool visible;
    QAccessible::Role spoken = QAccessible::NoRole;  // what a screen reader calls it, if looked at
};

double luminance(const QColor& colour) {
    auto linear = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

TEST_F(MainFormTest, EveryControlIsThereNamedAndReadable) {
    // Labels and pictures come back to front.
    // clang-format off
    const Control kControls[] = {
        {"FolderHeading", "保存するディレクトリ", true}, {"Activity", "", true}, {"MovingDisk", nullptr, true},
        {"OpenFolderPicture", nullptr, false}, {"ClosedFolderPicture", nullptr, false}, {"Globe", nullptr, true}, {"DestinationFolder", nullptr, true},
        {"Progress", "0/194", true, QAccessible::ProgressBar}, {"TitleLead", "Viewer for", true},
        {"Title", "「Velumio」\r\n", true, QAccessible::StaticText}, {"Subtitle", "画像ファイルダウンロードツール", true},
        {"Instructions", "最初に画像を保存するフォルダを指定します。次にインターネットに接続してあることを確認して、"
            "ダウンロード開始ボタンをクリックします。そうすると画像のダウンロードが開始されます。"
            "１９４ファイル約４５０MBあります。時間の余裕のあるときに実行してください。", true},
        {"FilesHeading", "フォルダ", true}, {"Version", "Ver.１.0", true}, {"Maker", nullptr, true},
        {"StopNote", "中止ボタンをクリックしても動画をダウンロード中は中止処理に時間がかかる場合があります。", false},
        {"DriveList", nullptr, true}, {"FolderList", nullptr, true}, {"FileList", nullptr, true},
        {"StartButton", "ダウンロード開始", true, QAccessible::Button}, {"StopButton", "ダウンロード中止", true},
        {"CloseButton", "終了", true}, {"StatusLine", nullptr, true, QAccessible::StatusBar},
    };
    // clang-format on
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    // To a screen reader, a frame of the controls shown.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(form.get());
    EXPECT_EQ(window->role(), QAccessible::Window);
    int stacked = -1;
    for (const Control& control : kControls) {
        SCOPED_TRACE(control.name);
        auto* widget = child(control.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->isVisibleTo(form.get()), control.visible);
        // Named for a screen reader: by its text, its heading or what it shows.
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(widget);
        const QString name = view->text(QAccessible::Name);
        EXPECT_TRUE(!control.visible || (!name.isEmpty() && name == name.trimmed()))
            << name.toStdString();
        EXPECT_EQ(window->indexOfChild(view) >= 0, control.visible);
        EXPECT_TRUE(control.spoken == QAccessible::NoRole || view->role() == control.spoken);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_TRUE(!control.text || label->text() == QString::fromUtf8(control.text));
            EXPECT_GT(form->children().indexOf(widget),
                      std::exchange(stacked, form->children().indexOf(widget)));
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(button->text(), QString::fromUtf8(control.text));
        }
    }
    EXPECT_EQ(child<QLabel>("FolderHeading")->buddy(), child("DriveList"));
    EXPECT_EQ(child<QLabel>("FilesHeading")->buddy(), fileList());
    // Loading shows the closed folder.
    EXPECT_EQ(child<QLabel>("DestinationFolder")->pixmap().cacheKey(),
              child<QLabel>("ClosedFolderPicture")->pixmap().cacheKey());
    // Tab goes through the buttons, then the lists.
    QWidget* focus = child("StartButton");
    for (const char* next : {"StopButton", "CloseButton", "DriveList", "FolderList", "FileList"}) {
        do {
            focus = focus->nextInFocusChain();
        } while (focus->focusPolicy() == Qt::NoFocus || focus->parentWidget() != form.get());
        EXPECT_EQ(focus->objectName(), next);
    }
}

// The desktop's style, as a user may have set it (adwaita-qt6 brings the last two).
class StyleTest : public MainFormTest, public ::testing::WithParamInterface<const char*> {};

INSTANTIATE_TEST_SUITE_P(Desktop, StyleTest,
                         ::testing::Values("Fusion", "Windows", "Adwaita-Dark",
                                           "HighContrastInverse"),
                         [](const auto& info) {
                             return QString(info.param).remove('-').toStdString();
                         });

// The strongest contrast to the commonest colour in a picture of a control: its text's.
double drawnContrast(const QImage& image) {
    std::map<QRgb, int> seen;
    for (int y = 4; y < image.height() - 4; ++y) {
        for (int x = 6; x < image.width() - 6; ++x) {
            ++seen[image.pixel(x, y)];
        }
    }
    const auto back = std::max_element(seen.begin(), seen.end(), [](auto a, auto b) {
                          return a.second < b.second;
                      })->first;
    double best = 1;
    for (const auto& [colour, count] : seen) {
        const double l1 = luminance(QColor(colour)), l2 = luminance(QColor(back));
        best = std::max(best, (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05));
    }
    return best;
}

TEST_P(StyleTest, EveryTextIsReadableAndTheFocusIsSeen) {
    if (!QStyleFactory::keys().contains(GetParam())) {
        GTEST_SKIP() << GetParam() << " is not installed (adwaita-qt6)";
    }
    const QString before = QApplication::style()->name();
    QApplication::setStyle(GetParam());
    test::writeFile(folder.path() / "1101-A.jpg", "x");
    build();
    ASSERT_TRUE(QTest::qWaitFor([this] { return fileList()->count() == 1; }, 2000));
    child<QLabel>("Activity")->setText("1101-A.jpgをダウンロードしています");
    child("StopNote")->show();
    child<StatusLine>("StatusLine")->setMessage("要求を正常に送信しました。");
    dir()->setFocus();
    for (const char* name : {"FolderHeading", "Activity", "Progress", "TitleLead", "Instructions",
                             "Version", "StopNote", "StatusLine", "StartButton", "StopButton",
                             "CloseButton", "DriveList", "FileList"}) {
        SCOPED_TRACE(name);
        QWidget* control = child(name);
        // As the window draws it, over whatever stands behind it.
        const QRect place(control->mapTo(form.get(), QPoint()), control->size());
        EXPECT_GE(drawnContrast(form->grab(place).toImage()), 4.5);
        if (control->focusPolicy() == Qt::NoFocus) {
            continue;
        }
        const QImage blurred = control->grab().toImage();
        control->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return control->hasFocus(); }, 1000));
        const QImage focused = control->grab().toImage();
        int differ = 0;
        for (int i = 0, w = focused.width(); i < w * focused.height(); ++i) {
            differ += focused.pixel(i % w, i / w) != blurred.pixel(i % w, i / w);
        }
        // A frame two pixels wide all round, at least.
        EXPECT_GE(differ, 3 * (control->width() + control->height())) << "the focus is not seen";
    }
    QApplication::setStyle(before);
}

TEST_F(MainFormTest, EveryCaptionFitsItsBoxWithEachJapaneseFace) {
    for (const char* face : {"IPAPGothic", "Noto Sans CJK JP"}) {
        ASSERT_TRUE(QFontDatabase::families().contains(face)) << face << ": ./setup installs it";
        build(face);
        const auto labels = form->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
        for (auto* caption : labels) {
            const QString name = caption->objectName();
            if (caption->text().isEmpty() && name != "Activity") {
                continue;
            }
            SCOPED_TRACE(face + (" " + name).toStdString());
            // An opaque label in front hides what runs under it.
            QRect room = caption->contentsRect();
            for (auto* front : labels.mid(labels.indexOf(caption) + 1)) {
                if (front->autoFillBackground() && front->isVisibleTo(form.get()) &&
                    front->y() > caption->y() && front->y() < caption->geometry().bottom()) {
                    room.setBottom(std::min(room.bottom(), front->y() - caption->y() - 1));
                }
            }
            // White on the band, the header's small captions show only there, clear of its edge.
            const QRect band = child("Title")->geometry() | child("Subtitle")->geometry();
            room &= name == "Version" || name == "Maker"
                        ? band.adjusted(0, 0, -2, 0).translated(-caption->pos())
                        : room;
            const int flags = static_cast<int>(caption->alignment()) |
                              (caption->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine);
            for (std::size_t i = 0; i < (name == "Activity" ? collection.size() : 1); ++i) {
                const QString text =
                    name == "Activity"
                        ? QString::fromStdString(collection.name(i)) + "をダウンロードしています"
                    : name == "Progress" ? "194/194"
                                         : caption->text().trimmed();
                EXPECT_TRUE(room.contains(caption->fontMetrics().boundingRect(room, flags, text)))
                    << text.toStdString();
            }
        }
    }
}

TEST_F(MainFormTest, TheButtonsRunAndStopTheBatchWhileTheDiskMoves) {
    // One hold at a time: the second is armed once the first has fired.
    const int designLeft = child("MovingDisk")->x();
    during(1, [this] {
        click("StartButton");  // ignored during a run
        during(6, [this] {
            EXPECT_TRUE(child<QTimer>("AnimationClock")->isActive());
            EXPECT_TRUE(shown("MovingDisk"));
            // The states of the file in transfer show while it is under way.
            when(
                [this] {
                    return child<StatusLine>("StatusLine")->message() ==
                           "要求を正常に送信しました。";
                },
                [this] {
                    click("StopButton");
                    server.release();
                });
        });
        QTimer::singleShot(700, form.get(), [this] { server.release(); });
    });
    runBatch();
    EXPECT_EQ(text("Progress"), "7/194");
    EXPECT_EQ(text("Activity"), "中止しました");
    EXPECT_TRUE(shown("StopNote"));
    EXPECT_EQ(progress(), std::make_pair(7, 194));
    EXPECT_TRUE(QTest::qWaitFor([this] { return said().startsWith("中止しました。"); }, 1000));
    EXPECT_EQ(listFolder(folder.path()).size(), 7u);
    EXPECT_TRUE(server.paths().size() >= 7u && server.paths().size() <= 7u + BatchRun::kAhead)
        << "and those behind";
    EXPECT_GT(child("MovingDisk")->x(), designLeft);  // three ticks or so while file 2 was held

    fs::create_directory(folder.path() / collection.name(100));  // that file cannot be saved
    // The file list follows the files arriving, until the user scrolls it away.
    const auto scrollAway = [this] { fileList()->scrollToTop(), server.release(); };
    during(40, [=, this] { QTimer::singleShot(300, form.get(), scrollAway); });
    runBatch();
    EXPECT_EQ(text("Progress"), "194/194");
    EXPECT_EQ(progress(), std::make_pair(194, 194));
    EXPECT_EQ(text("Activity"), "終了しました（失敗 1 件）");
    // A screen reader has the files that failed.
    const QString failed = QString::fromStdString(
        "保存先のフォルダにファイルを保存できませんでした。 保存できなかったファイル: " +
        collection.name(100));
    EXPECT_EQ(child<StatusLine>("StatusLine")->message(), failed);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return QAccessible::queryAccessibleInterface(child("StatusLine"))
                       ->text(QAccessible::Name) == failed;
        },
        2000));
    // and hears the ending at once, wherever it is.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return said() == "終了しました（失敗 1 件）。" + failed; }, 1000));
    // The list follows a moment after the last file.
    EXPECT_TRUE(QTest::qWaitFor([this] { return fileList()->count() == 193; }, 2000));
    EXPECT_EQ(fileList()->verticalScrollBar()->value(), 0);
    EXPECT_FALSE(shown("MovingDisk"));
    EXPECT_FALSE(child<QTimer>("AnimationClock")->isActive());
    // The list names five files, and counts those past five.
    const QStringList six = {"1", "2", "3", "4", "5", "6"};
    EXPECT_EQ(failedFilesSentence(six.mid(0, 5)), "保存できなかったファイル: 1, 2, 3, 4, 5");
    EXPECT_EQ(failedFilesSentence(six), "保存できなかったファイル: 1, 2, 3, 4, 5 ほか 1 件");
}

TEST_F(MainFormTest, TheDesktopSeesTheBatchGoAndHearsOfItsEndingFromElsewhere) {
    test::TempFolder scratch;
    const std::string address = "unix:path=" + (scratch.path() / "bus").string();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    // With no bus there yet, the batch goes as ever and nothing is printed.
    testing::internal::CaptureStderr();
    fs::create_directory(folder.path() / collection.name(100));  // that file cannot be saved
    build();
    runBatch();
    form.reset();  // and its report's thread with it
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    test::Process daemon({"dbus-daemon", "--session", "--nofork", "--address=" + address});
    if (!QTest::qWaitFor([&] { return fs::exists(scratch.path() / "bus"); }, 5000)) {
        GTEST_SKIP() << "no session bus of its own could be started here (dbus-daemon)";
    }
    Desktop desktop;
    auto watch = QDBusConnection::connectToBus(QString::fromStdString(address), "desktop");
    watch.connect({}, {}, "com.canonical.Unity.LauncherEntry", "Update",
                  {"application://org.zavoket.zavoket.desktop"}, {}, &desktop,
                  SLOT(Update(QString, QVariantMap)));
    watch.registerService("org.freedesktop.Notifications");
    watch.registerObject("/org/freedesktop/Notifications", &desktop,
                         QDBusConnection::ExportAllSlots);
    QWidget elsewhere;  // another program's window, where the user is
    std::vector<QVariantMap> climb;
    for (const bool active : {false, true}) {
        build();
        elsewhere.setVisible(!active);  // shown last, it is the active window
        ASSERT_TRUE(QTest::qWaitForWindowActive(active ? form.get() : &elsewhere));
        click("StartButton");
        // From nothing, a file at a time, then gone; asking for attention if nobody saw it fail.
        climb.push_back({{"progress", 0.0}, {"progress-visible", true}, {"urgent", false}});
        for (std::size_t done = 0; done < collection.size(); ++done) {
            climb.push_back({{"progress", done / 194.0}, {"progress-visible", true}});
        }
        climb.push_back({{"progress-visible", false}, {"urgent", !active}});
        EXPECT_TRUE(QTest::qWaitFor([&] { return desktop.updates == climb; }, 5000));
        const std::string note =
            "Zavoket|終了しました（失敗 1 件）|保存先のフォルダにファイルを保存できませんでした。 "
            "保存できなかったファイル: " +
            collection.name(100) + "|org.zavoket.zavoket";
        EXPECT_EQ(std::exchange(desktop.notes, {}).join('\n').toStdString(), active ? "" : note);
        // Back at the window, it no longer asks for attention.
        form->activateWindow();
        climb.push_back({{"urgent", false}});
        EXPECT_TRUE(active || QTest::qWaitFor([&] { return desktop.updates == climb; }, 5000));
    }
}

}  // namespace
}  // namespace zavoket

#include "main_form_test.moc"
