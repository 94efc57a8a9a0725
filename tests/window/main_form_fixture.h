#pragma once

#include "window/main_form.h"

#include <gtest/gtest.h>
#include <QtTest>
#include <QtWidgets>

#include <filesystem>
#include <future>

#include "platform/temporary_names.h"
#include "support/held_server.h"
#include "support/scratch.h"
#include "support/stores.h"
#include "window/file_list.h"
#include "window/folder_lists.h"
#include "window/owner_thread.h"
#include "window/status_line.h"

namespace zavoket::test {

using namespace std::chrono_literals;

// Every window here opens under a dark colour scheme, light text on dark grey: the texts it
// sets must stay readable whatever the desktop's scheme.
class MainFormTest : public ::testing::Test {
  protected:
    MainFormTest() : before(QApplication::palette()) {
        QPalette dark(QColor(230, 230, 230), QColor(53, 53, 53));
        dark.setColor(QPalette::Base, QColor(35, 35, 35));
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        QApplication::setPalette(dark);
        build();
    }
    ~MainFormTest() override { QApplication::setPalette(before); }

    // A new window, as a user with that face would see it.
    void build(const QString& face = {}) {
        form.reset();
        app.reset();
        // Files are received under temporary names, as on a USB stick: what a user could see
        // of them is what these tests look for.
        app = std::make_unique<Application>(
            ApplicationOptions{
                .baseUrl = server.baseUrl(),
                .transfer = {.connectTimeout = 2s, .idleTimeout = 2s},
                .store = &store,
                .exit = [this] { atTheEnding.push_back(listFolder(folder.path())); }},
            postInto(*qApp));
        form = std::make_unique<MainForm>(*app, MainFormOptions{face});
        form->show();
        dir()->setPath(QString::fromStdString(folder.str()));
    }

    template <typename T = QWidget>
    T* child(const char* name) const {
        T* found = form->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* label) const { return child<QLabel>(label)->text(); }
    FolderList* dir() const { return child<FolderList>("FolderList"); }
    QListWidget* fileList() const { return child<QListWidget>("FileList"); }
    bool shown(const char* name) const { return child(name)->isVisibleTo(form.get()); }
    // What a screen reader was last told of its own accord, as a notification.
    QString said() const {
        auto* view = QAccessible::queryAccessibleInterface(child("Announcement"));
        return shown("Announcement") && view->role() == QAccessible::Notification
                   ? view->text(QAccessible::Name)
                   : QString();
    }
    // "N/194" as a screen reader has it: its value and its maximum.
    std::pair<int, int> progress() const {
        auto* value = QAccessible::queryAccessibleInterface(child("Progress"))->valueInterface();
        return {value->currentValue().toInt(), value->maximumValue().toInt()};
    }
    void click(const char* name) { QTest::mouseClick(child<QPushButton>(name), Qt::LeftButton); }
    // Starts a batch and lets the window handle its events until the batch has ended.
    void runBatch() {
        click("StartButton");
        EXPECT_TRUE(QTest::qWaitFor([this] { return !child<QTimer>("AnimationClock")->isActive(); },
                                    60000));
    }
    // Runs action on the window's thread while the server holds the response for entry index,
    // before it or, midBody, once half the body has had a moment to reach the file.
    // The request comes a file early, behind the one before: the action waits until the entry
    // is the file in transfer.
    void during(std::size_t index, std::function<void()> action, bool midBody = false) {
        const auto now = [=, this] {
            return text("Progress") == QString::number(index + 1) + "/194";
        };
        const auto act = [=, this] { QTimer::singleShot(midBody ? 100 : 0, form.get(), action); };
        server.hold(
            "/" + collection.urlPath(index),
            [=, this] { QMetaObject::invokeMethod(form.get(), [=, this] { when(now, act); }); },
            midBody);
    }
    // Runs action once ready() holds, looking again every 5 ms: between looks the window
    // handles its events, which is how what the batch reports reaches it.
    void when(std::function<bool()> ready, std::function<void()> action) {
        ready() ? action() : QTimer::singleShot(5, form.get(), [=, this] { when(ready, action); });
    }

    const QPalette before;
    const sample::Collection collection{sample::Profile::Small, 11};
    HeldServer server{collection};
    TempFolder folder;
    std::vector<std::vector<std::string>> atTheEnding;  // the folder at each ending
    SlowNamingStore store;
    std::unique_ptr<Application> app;
    std::unique_ptr<MainForm> form;
};

}  // namespace zavoket::test
