#include "window/main_form.h"

#include <QCloseEvent>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "window/accessible.h"
#include "window/file_list.h"
#include "window/folder_lists.h"
#include "window/look.h"
#include "window/placement.h"
#include "window/status_line.h"

namespace zavoket {
namespace {
const char* const kInstructions =
    "最初に画像を保存するフォルダを指定します。次にインターネットに接続してあることを確認して、"
    "ダウンロード開始ボタンをクリックします。そうすると画像のダウンロードが開始されます。"
    "１９４ファイル約４５０MBあります。時間の余裕のあるときに実行してください。";
const char* const kAbortNote =
    "中止ボタンをクリックしても動画をダウンロード中は中止処理に時間がかかる場合があります。";

}  // namespace

MainForm::MainForm(Application& app, MainFormOptions options, QWidget* parent)
    // Customised: the hints given and no others, so no title bar (Qt's own under Wayland too)
    // offers to maximise a window of fixed size.
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      app_(app),
      options_(std::move(options)) {
    installAccessibleViews();
    buildControls();
    useClassicStyle(this);
    connectControls();
    app_.batch().setView(*this);
    centre(*this);
    image5_->setPixmap(image2_->pixmap());  // shared, not copied
}

MainForm::~MainForm() = default;

void MainForm::buildControls() {
    // Any Japanese Gothic face will do; these are Debian's, most wanted first.
    const QStringList proportional = options_.face.isEmpty()
                                         ? QStringList{"IPAPGothic", "Noto Sans CJK JP"}
                                         : QStringList{options_.face};
    const QStringList fixedPitch =
        options_.face.isEmpty()
            ? QStringList{"IPAGothic", "Noto Sans Mono CJK JP", "Noto Sans CJK JP"}
            : QStringList{options_.face};

    setObjectName("MainForm");
    setWindowTitle("Zavoket");
    setWindowIcon(QIcon(":/artwork/zavoket.ico"));
    setFixedSize(678, 372);
    setPalette(classicPalette());
    setAutoFillBackground(true);
    setFont(gothic(proportional, 9));

    // Created back to front: a later sibling is drawn over an earlier one.
    auto* label1 =
        makeLabel(this, "Label1", "保存するディレクトリ", fromTwips(360, 2040, 3345, 240));
    paint(label1, kBandColour, Qt::white);
    label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    withBorder(label1);
    fitFont(label1);

    label2_ = makeLabel(this, "Label2", QString(), fromTwips(6660, 3480, 3255, 240));
    paint(label2_, Qt::white, Qt::black);
    label2_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    withBorder(label2_);
    // One size for every text it will show, so the caption does not change size between files.
    QStringList activities = {kActivityFinished, kActivityAborted,
                              QString::fromStdString(failedActivityText(Catalogue::kSize))};
    for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
        activities.append(QString::fromStdString(app_.catalogue().localName(i)) +
                          "をダウンロードしています");
    }
    fitFont(label2_, label2_->contentsRect().height(), activities);
    label2_->setAccessibleName("現在の処理");

    image3_ = makeImage(this, "Image3", ":/artwork/floppy.ico", fromTwips(5880, 2640, 315, 255),
                        "転送中のファイル");
    image3_->setScaledContents(true);
    image1_ = makeImage(this, "Image1", ":/artwork/folder_open.ico",
                        fromTwips(6120, 7200, 480, 480), "開いたフォルダ");
    image1_->hide();
    image2_ = makeImage(this, "Image2", ":/artwork/folder_closed.ico",
                        fromTwips(8400, 6960, 480, 480), "閉じたフォルダ");
    image2_->hide();
    image4_ = makeImage(this, "Image4", ":/artwork/globe.ico", fromTwips(5760, 2520, 480, 480),
                        "インターネット");
    image5_ = makeImage(this, "Image5", ":/artwork/folder_open_paper.ico",
                        fromTwips(9120, 2520, 480, 480), "保存先のフォルダ");

    label3_ = makeLabel(this, "Label3", "0/194", fromTwips(5640, 3480, 975, 255));
    paint(label3_, Qt::white, Qt::black);
    label3_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    withBorder(label3_);
    fitFont(label3_, label3_->contentsRect().height(), {"194/194"});
    tellAsProgress(label3_);
    label3_->setAccessibleName("進行状況");
    label3_->setAccessibleDescription("ダウンロードを始めたファイルの数と全体の数");

    // The three band lines overlap: each has the height up to the next line's top.
    auto* label5 = makeLabel(this, "Label5", "Viewer for", fromTwips(360, 240, 9495, 495));
    auto* label4 = makeLabel(this, "Label4", "「Velumio」\r\n", fromTwips(360, 480, 9495, 495));
    auto* label6 =
        makeLabel(this, "Label6", "画像ファイルダウンロードツール", fromTwips(360, 840, 9495, 255));
    label4->setAccessibleName(label4->text().trimmed());
    asBand(label5, gothic(proportional, 12));
    asBand(label4, gothic(proportional, 18));
    asBand(label6, gothic(proportional, 12));
    fitFont(label5, label4->y() - label5->y(), {label5->text()});
    fitFont(label4, label6->y() - label4->y(), {label4->text().trimmed()});
    fitFont(label6);

    auto* label7 = makeLabel(this, "Label7", kInstructions, fromTwips(360, 1200, 9495, 780));
    label7->setWordWrap(true);
    fitFont(label7);

    auto* label8 = makeLabel(this, "Label8", "フォルダ", fromTwips(3720, 2040, 1845, 300));
    paint(label8, kBandColour, Qt::white);
    label8->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    withBorder(label8);
    fitFont(label8);

    // White on the band, so whole only on it: their boxes end at its bottom and short of its
    // right edge, and the caption-fit rule shrinks a face taller or wider than the one they were
    // laid out for.
    const QRect band = label5->geometry() | label4->geometry() | label6->geometry();
    for (auto* caption :
         {makeLabel(this, "Label9", "Ver.１.0", fromTwips(7200, 960, 1215, 255)),
          makeLabel(this, "Label10", "Zavoket Project", fromTwips(8640, 960, 1815, 255))}) {
        QRect box = caption->geometry();
        box.moveBottom(std::min(box.bottom(), band.bottom()));
        caption->setGeometry(box & band.adjusted(0, 0, -4, 0));
        transparentWhite(caption, gothic(proportional, 8.25));
    }

    label11_ = makeLabel(this, "Label11", kAbortNote, fromTwips(5760, 1920, 3975, 780));
    label11_->setWordWrap(true);
    fitFont(label11_);
    label11_->hide();

    // Controls with a window of their own lie over the drawn ones.
    cGet_ = makeButton(this, "CGet", "ダウンロード開始", fromTwips(5640, 4080, 1935, 375));
    cGet_->setAccessibleDescription("194 個のファイルを選んだフォルダにダウンロードします");
    cAbort_ = makeButton(this, "CAbort", "ダウンロード中止", fromTwips(8040, 4080, 1935, 375));
    cAbort_->setAccessibleDescription("今のファイルが終わったところでダウンロードを止めます");
    cClose_ = makeButton(this, "CClose", "終了", fromTwips(7080, 4680, 1695, 375));
    cClose_->setAccessibleDescription("Zavoket をすぐに終了します");

    tUrl_ = new QLineEdit(QString::fromStdString(app_.baseUrl()), this);
    tUrl_->setObjectName("TURL");
    tUrl_->setGeometry(fromTwips(120, 5640, 3735, 270));
    tUrl_->hide();

    // The lists are named by their headings.
    drive_ = new DriveList(this);
    drive_->setObjectName("Drive");
    drive_->setGeometry(fromTwips(360, 2280, 3375, 300));
    // A drop-down list is named by the label it is the buddy of, on Linux.
    drive_->setAccessibleName("保存するディレクトリのドライブ");
    drive_->setAccessibleDescription("保存先のドライブを選びます");
    label1->setBuddy(drive_);

    dir_ = new FolderList(this, QIcon(":/artwork/folder_open.ico"),
                          QIcon(":/artwork/folder_closed.ico"));
    dir_->setObjectName("Dir");
    dir_->setGeometry(fromTwips(360, 2640, 3375, 2400));
    dir_->setFont(gothic(fixedPitch, 9));
    dir_->setPalette(palette());  // its style sheet stops it from taking the window's
    dir_->setAccessibleName(label1->text());
    dir_->setAccessibleDescription("保存先のフォルダ。Enter キーかダブルクリックで開きます");

    file_ = new FileList(this);
    file_->setObjectName("File");
    file_->setGeometry(fromTwips(3720, 2280, 1815, 2790));
    file_->setFont(gothic(fixedPitch, 9));
    file_->setAccessibleName(label8->text());
    file_->setAccessibleDescription("保存先のフォルダにあるファイル");
    label8->setBuddy(file_);

    sb_ = new StatusLine(this);
    sb_->setObjectName("SB");
    sb_->setGeometry(fromTwips(0, 5205, 10170, 375));

    // Says the ending of a batch to a screen reader at once, wherever the user is; not drawn.
    announcement_ = makeLabel(this, "Announcement", QString(), QRect());
    tellAsNotification(announcement_);
    announcement_->hide();

    timer1_ = new QTimer(this);
    timer1_->setObjectName("Timer1");
    timer1_->setInterval(200);

    setTabOrder(cGet_, cAbort_);
    setTabOrder(cAbort_, cClose_);
    setTabOrder(cClose_, drive_);
    setTabOrder(drive_, dir_);
    setTabOrder(dir_, file_);

    // The lists show the working folder and its volume until the user picks another.
    char working[PATH_MAX];
    const QByteArray start = ::getcwd(working, sizeof(working)) != nullptr ? working : "/";
    drive_->showVolumeOf(QFile::decodeName(start));
    dir_->setPath(start);
    file_->setPath(dir_->path());
}

void MainForm::connectControls() {
    connect(cGet_, &QPushButton::clicked, this, [this] {
        if (!app_.batch().running()) {
            desktop_.batchStarted();
        }
        app_.batch().start();
    });
    connect(cAbort_, &QPushButton::clicked, this, [this] { app_.batch().abort(); });
    connect(cClose_, &QPushButton::clicked, this, [this] { closeNow(); });
    connect(drive_, &DriveList::driveChanged, this, [this] { onDriveChanged(); });
    connect(dir_, &FolderList::pathChanged, this, [this] { file_->open(dir_->path()); });
    connect(dir_, &FolderList::newFolderAsked, this, [this] { askForNewFolder(); });
    connect(dir_, &FolderList::folderNotMade, this, [this](const QString& reason) {
        QMessageBox box(QMessageBox::Warning, "新しいフォルダ",
                        "フォルダを作れませんでした。\n" + reason, QMessageBox::Ok, this);
        useClassicStyle(&box);
        box.exec();
    });
    connect(timer1_, &QTimer::timeout, this, [this] { animationTick(*this); });
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
    ask.setLabelText("「" + QFile::decodeName(dir_->path()) + "」に作るフォルダの名前:");
    ask.setTextValue("新しいフォルダ");
    useClassicStyle(&ask);
    if (ask.exec() == QDialog::Accepted) {
        dir_->makeFolder(ask.textValue().trimmed());
    }
}

void MainForm::onDriveChanged() {
    // A volume that cannot be read leaves the folder as it was; the list keeps the new pick.
    dir_->open(QFile::encodeName(drive_->drive()));
}

void MainForm::closeNow() {
    if (closing_) {
        return;
    }
    closing_ = true;
    // The process is gone within a second whatever the disk does.
    app_.shutdown(std::chrono::steady_clock::now() + std::chrono::milliseconds(500));
    hide();
    if (options_.endProgram) {
        options_.endProgram();
    }
}

void MainForm::closeEvent(QCloseEvent* event) {
    closeNow();
    event->accept();
}

void MainForm::setLabel2Caption(const std::string& text) {
    label2_->setText(QString::fromStdString(text));
    label2_->setAccessibleName("現在の処理 " + label2_->text());
    if (text == kActivityAborted || text.starts_with(kActivityFinished)) {
        // Once the status bar has the files that failed, which comes right after.
        QTimer::singleShot(0, this, [this, activity = label2_->text()] {
            const QString ending = activity + "。" + sb_->message();
            announcement_->hide();
            announcement_->setText(ending);
            announcement_->setAccessibleName(ending);
            announcement_->show();
            const bool failed = activity != kActivityFinished && activity != kActivityAborted;
            desktop_.ended(activity, failed ? sb_->message() : QString(), failed, isActiveWindow());
        });
    }
}
void MainForm::setLabel3Caption(const std::string& text) {
    label3_->setText(QString::fromStdString(text));
    progressChanged(label3_);
    desktop_.progressed(std::max(label3_->text().section('/', 0, 0).toInt() - 1, 0),
                        Catalogue::kSize);
}
void MainForm::showLabel11() {
    label11_->show();
}
void MainForm::setImage3Visible(bool visible) {
    image3_->setVisible(visible);
}

void MainForm::setTimer1Enabled(bool enabled) {
    // Switching on a running clock must not restart its interval.
    if (enabled && !timer1_->isActive()) {
        timer1_->start();
    } else if (!enabled) {
        timer1_->stop();
    }
}

void MainForm::setSbText(const std::string& text) {
    sb_->setMessage(QString::fromStdString(text));
}
std::string MainForm::turlText() const {
    return tUrl_->text().toStdString();
}
std::string MainForm::dirPath() const {
    return dir_->path().toStdString();
}
void MainForm::refreshFile() {
    file_->refresh();
}

float MainForm::image3Left() const {
    return static_cast<float>(image3_->x());
}
void MainForm::setImage3Left(float left) {
    image3_->move(qRound(left), image3_->y());
}
float MainForm::image4Left() const {
    return static_cast<float>(image4_->x());
}
float MainForm::image5Left() const {
    return static_cast<float>(image5_->x());
}

void MainForm::setImage5Picture(FolderPicture picture) {
    image5_->setPixmap((picture == FolderPicture::Open ? image1_ : image2_)->pixmap());
}

}  // namespace zavoket
