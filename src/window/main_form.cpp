#include "window/main_form.h"

#include <QCloseEvent>
#include <QFile>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <utility>

#include "window/accessible.h"
#include "window/file_list.h"
#include "window/folder_lists.h"
#include "window/look.h"
#include "window/placement.h"
#include "window/sentences.h"
#include "window/status_line.h"

namespace zavoket {

MainForm::MainForm(Application& app, MainFormOptions options, QWidget* parent)
    // Customised: the hints given and no others, so no title bar (Qt's own under Wayland too)
    // offers to maximise a window of fixed size.
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      app_(app) {
    installAccessibleViews();
    setObjectName("MainForm");
    setWindowTitle("Zavoket");
    setWindowIcon(QIcon(":/artwork/zavoket.ico"));
    c_ = buildControls(*this, app_.catalogue(), options.face);
    useClassicStyle(this);
    connectControls();
    app_.batch().setView(*this);
    centre(*this);
    c_.destination->setPixmap(c_.closedFolder->pixmap());  // shared, not copied
}

MainForm::~MainForm() = default;

void MainForm::connectControls() {
    connect(c_.start, &QPushButton::clicked, this, [this] { app_.batch().start(); });
    connect(c_.stop, &QPushButton::clicked, this, [this] { app_.batch().stop(); });
    connect(c_.close, &QPushButton::clicked, this, [this] { closeNow(); });
    connect(c_.drives, &DriveList::driveChanged, this, [this] {
        // A volume that cannot be read leaves the folder as it was; the list keeps the new pick.
        c_.folders->open(QFile::encodeName(c_.drives->drive()));
    });
    connect(c_.folders, &FolderList::pathChanged, this,
            [this] { c_.files->open(c_.folders->path()); });
    connect(c_.folders, &FolderList::newFolderAsked, this, [this] { askForNewFolder(); });
    connect(c_.folders, &FolderList::folderNotMade, this, [this](const QString& reason) {
        QMessageBox box(QMessageBox::Warning, "新しいフォルダ",
                        "フォルダを作れませんでした。\n" + reason, QMessageBox::Ok, this);
        useClassicStyle(&box);
        box.exec();
    });
    connect(c_.clock, &QTimer::timeout, this, [this] { animationTick(*this); });
}

void MainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!std::exchange(watchedForFrame_, true)) {
        centreOnceFramed(*this);
    }
}

void MainForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        desktop_.windowActivated();
    }
}

void MainForm::askForNewFolder() {
    QInputDialog ask(this);
    ask.setObjectName("NewFolder");
    ask.setWindowTitle("新しいフォルダ");
    ask.setLabelText("「" + QFile::decodeName(c_.folders->path()) + "」に作るフォルダの名前:");
    ask.setTextValue("新しいフォルダ");
    useClassicStyle(&ask);
    if (ask.exec() == QDialog::Accepted) {
        c_.folders->makeFolder(ask.textValue().trimmed());
    }
}

// The application ends the process within its deadline, whatever the disk does.
void MainForm::closeNow() {
    if (std::exchange(closing_, true)) {
        return;
    }
    hide();
    app_.close();
}

void MainForm::closeEvent(QCloseEvent* event) {
    closeNow();
    event->accept();
}

void MainForm::setActivity(const QString& text) {
    c_.activity->setText(text);
    c_.activity->setAccessibleName("現在の処理 " + text);
}

void MainForm::setMoving(bool moving) {
    // Switching on a running clock must not restart its interval.
    if (moving && !c_.clock->isActive()) {
        c_.clock->start();
    } else if (!moving) {
        c_.clock->stop();
    }
    c_.disk->setVisible(moving);
}

void MainForm::batchStarted() {
    setMoving(true);
    causes_.clear();
    desktop_.batchStarted();
}

void MainForm::fileStarted(std::size_t index, std::size_t number) {
    c_.progress->setText(QString("%1/%2").arg(number).arg(Catalogue::kSize));
    progressChanged(c_.progress);
    desktop_.progressed(number - 1, Catalogue::kSize);
    setActivity(downloadingSentence(QString::fromStdString(app_.catalogue().localName(index))));
}

void MainForm::connectionChanged(ConnectionState state) {
    c_.status->setMessage(connectionSentence(state));
}

void MainForm::fileRetrying(std::chrono::milliseconds delay, int attempt) {
    c_.status->setMessage(retrySentence(delay, attempt));
}

void MainForm::stopAsked() {
    c_.stopNote->show();
}

void MainForm::fileSaved(std::size_t) {
    c_.files->refresh();
}

void MainForm::fileKept(std::size_t) {
    c_.files->refresh();
}

void MainForm::fileFailed(std::size_t, FailureCause cause) {
    causes_.insert(cause);
    if (cause == FailureCause::ProxyRefused) {
        c_.status->setMessage(proxyRefusedSentence());
    } else if (cause == FailureCause::InsecureRedirect) {
        c_.status->setMessage(insecureRedirectSentence());
    } else if (cause == FailureCause::DiskFull) {
        c_.status->setMessage(diskFullSentence());
    } else if (cause == FailureCause::NotSaved) {
        c_.files->refresh();  // a name it could not take may have changed what the folder holds
    }
}

void MainForm::batchEnded(const BatchEnding& ending) {
    setMoving(false);
    setActivity(endingActivity(ending.stopped, ending.failed.size()));
    if (ending.stopped) {
        c_.stopNote->show();
    } else if (!ending.failed.empty()) {
        QStringList names;
        for (std::size_t index : ending.failed) {
            names.append(QString::fromStdString(app_.catalogue().localName(index)));
        }
        // Where every file failed for one cause the program knows, the cause comes first.
        const QString cause = causes_.size() == 1 ? causeSentence(*causes_.begin()) : QString();
        c_.status->setMessage((cause.isEmpty() ? "" : cause + " ") + failedFilesSentence(names));
    }
    // A screen reader hears the ending at once, wherever the user is.
    const QString said = c_.activity->text() + "。" + c_.status->message();
    c_.announcement->hide();
    c_.announcement->setText(said);
    c_.announcement->setAccessibleName(said);
    c_.announcement->show();
    const bool failures = !ending.stopped && !ending.failed.empty();
    desktop_.ended(c_.activity->text(), failures ? c_.status->message() : QString(), failures,
                   isActiveWindow());
}

std::string MainForm::destination() const {
    return c_.folders->path().toStdString();
}

float MainForm::diskLeft() const {
    return static_cast<float>(c_.disk->x());
}
void MainForm::setDiskLeft(float left) {
    c_.disk->move(qRound(left), c_.disk->y());
}
float MainForm::globeLeft() const {
    return static_cast<float>(c_.globe->x());
}
float MainForm::folderLeft() const {
    return static_cast<float>(c_.destination->x());
}
void MainForm::setDiskVisible(bool visible) {
    c_.disk->setVisible(visible);
}
void MainForm::setFolderPicture(FolderPicture picture) {
    c_.destination->setPixmap(
        (picture == FolderPicture::Open ? c_.openFolder : c_.closedFolder)->pixmap());
}

}  // namespace zavoket
