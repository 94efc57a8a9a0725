#include "window/main_form.h"

#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <utility>

#include "window/folder_lists.h"

namespace zavoket {
namespace {

// The design's geometry is in twips; at its resolution a pixel is 15 twips.
constexpr int kTwipsPerPixel = 15;
QRect fromTwips(int left, int top, int width, int height) {
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
            height / kTwipsPerPixel};
}

// Point sizes as the design's 96-dpi screen shows them, so the captions fit whatever the
// display's own dpi.
int pixelsForPoints(double points) {
    return static_cast<int>(points * 96.0 / 72.0 + 0.5);
}

QFont gothic(const QStringList& families, double points) {
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelsForPoints(points));
    return font;
}

// Faces differ in how much room a line takes: Noto Sans CJK's lines are half as tall again as
// IPA Gothic's at the same size. The font shrinks, a pixel at a time, until every text the
// label will show fits the height it has, in one line each unless the label wraps.
void fitFont(QLabel* label, int height, const QStringList& texts) {
    QFont font = label->font();
    const int width = label->contentsRect().width();
    const int flags = static_cast<int>(label->alignment()) |
                      (label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine);
    for (int pixels = font.pixelSize(); pixels > 7; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetrics metrics(font);
        const bool fits = std::all_of(texts.begin(), texts.end(), [&](const QString& text) {
            const QRect needed = metrics.boundingRect(QRect(0, 0, width, height), flags, text);
            return needed.height() <= height && needed.width() <= width;
        });
        if (fits) {
            break;
        }
    }
    label->setFont(font);
}

void fitFont(QLabel* label) {
    fitFont(label, label->contentsRect().height(), {label->text()});
}

const QColor kWindowColour(224, 224, 224);
const QColor kBandColour(64, 64, 64);

const char* const kInstructions =
    "最初に画像を保存するフォルダを指定します。次にインターネットに接続してあることを確認して、"
    "ダウンロード開始ボタンをクリックします。そうすると画像のダウンロードが開始されます。"
    "１９４ファイル約４５０MBあります。時間の余裕のあるときに実行してください。";
const char* const kAbortNote =
    "中止ボタンをクリックしても動画をダウンロード中は中止処理に時間がかかる場合があります。";

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    // Qt indents the text of a framed label, at the top too: it would push the caption out.
    label->setIndent(0);
    label->setMargin(0);
    return label;
}

void paint(QLabel* label, const QColor& background, const QColor& text) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

void asBand(QLabel* label, const QFont& font) {
    paint(label, kBandColour, Qt::white);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setFont(font);
}

void withBorder(QLabel* label) {
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setLineWidth(1);
}

void transparentWhite(QLabel* label, const QFont& font) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setFont(font);
    fitFont(label);
}

QLabel* makeImage(QWidget* parent, const char* name, const QString& icon, QRect geometry,
                  const QString& shows) {
    auto* image = makeLabel(parent, name, QString(), geometry);
    image->setPixmap(QPixmap(icon));  // the 32 x 32 image, the first in the file
    image->setAccessibleName(shows);
    return image;
}

// The classic look on any desktop: every text colour goes with the background colour the
// window sets, so a dark theme cannot put light text on the window's light grey.
QPalette classicPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, kWindowColour);
    palette.setColor(QPalette::Button, kWindowColour);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(240, 240, 240));
    for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
        palette.setColor(role, Qt::black);
        palette.setColor(QPalette::Disabled, role, QColor(96, 96, 96));
    }
    palette.setColor(QPalette::PlaceholderText, QColor(96, 96, 96));
    palette.setColor(QPalette::Light, Qt::white);
    palette.setColor(QPalette::Midlight, QColor(240, 240, 240));
    palette.setColor(QPalette::Mid, QColor(160, 160, 160));
    palette.setColor(QPalette::Dark, QColor(128, 128, 128));
    palette.setColor(QPalette::Shadow, QColor(64, 64, 64));
    return palette;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

MainForm::MainForm(MainFormOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      options_(std::move(options)),
      transfer_(waiter_, options_.transfer),
      store_(options_.files),
      batch_(catalogue_, static_cast<BatchView&>(*this), transfer_, store_, waiter_) {
    buildControls();
    load();
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
    Catalogue names;
    names.fill();
    for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
        activities.append(QString::fromStdString(names.localName(i)) + "をダウンロードしています");
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
    label3_->setAccessibleName("進行状況 0/194");
    label3_->setAccessibleDescription("ダウンロードを始めたファイルの数と全体の数");

    // The three band lines overlap: each has the height up to the next line's top.
    auto* label5 = makeLabel(this, "Label5", "Viewer for", fromTwips(360, 240, 9495, 495));
    auto* label4 = makeLabel(this, "Label4", "「Velumio」\r\n", fromTwips(360, 480, 9495, 495));
    auto* label6 =
        makeLabel(this, "Label6", "画像ファイルダウンロードツール", fromTwips(360, 840, 9495, 255));
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

    transparentWhite(makeLabel(this, "Label9", "Ver.１.0", fromTwips(7200, 960, 1215, 255)),
                     gothic(proportional, 8.25));
    transparentWhite(makeLabel(this, "Label10", "Zavoket Project", fromTwips(8640, 960, 1815, 255)),
                     gothic(proportional, 8.25));

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

    tUrl_ = new QLineEdit(QString::fromStdString(options_.baseUrl), this);
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

    sb_ = new QStatusBar(this);
    sb_->setObjectName("SB");
    sb_->setSizeGripEnabled(false);
    sb_->setGeometry(fromTwips(0, 5205, 10170, 375));
    sb_->setAccessibleName("接続の状態");

    timer1_ = new QTimer(this);
    timer1_->setObjectName("Timer1");
    timer1_->setInterval(200);

    setTabOrder(cGet_, cAbort_);
    setTabOrder(cAbort_, cClose_);
    setTabOrder(cClose_, drive_);
    setTabOrder(drive_, dir_);
    setTabOrder(dir_, file_);

    // The lists show the working folder and its volume until the user picks another.
    const QString start = QDir::currentPath();
    drive_->showVolumeOf(start);
    dir_->setPath(start);
    file_->setPath(dir_->path());

    connect(cGet_, &QPushButton::clicked, this, [this] { batch_.start(); });
    connect(cAbort_, &QPushButton::clicked, this, [this] { batch_.abort(); });
    connect(cClose_, &QPushButton::clicked, this, [this] { closeNow(); });
    connect(drive_, &DriveList::driveChanged, this, [this] { onDriveChanged(); });
    connect(dir_, &FolderList::pathChanged, this, [this] { file_->setPath(dir_->path()); });
    connect(timer1_, &QTimer::timeout, this, [this] { animationTick(*this); });
}

void MainForm::load() {
    centre();
    image5_->setPixmap(image2_->pixmap());  // shared, not copied
    catalogue_.fill();
}

void MainForm::centre() {
    const QScreen* screen =
        this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QSize outer = frameGeometry().size();
    const QRect area = screen->geometry();
    const float left =
        centredPosition(static_cast<float>(area.width()), static_cast<float>(outer.width()));
    const float top =
        centredPosition(static_cast<float>(area.height()), static_cast<float>(outer.height()));
    // Half a pixel goes the way the window system takes a position finer than its pixels.
    move(area.x() + static_cast<int>(std::floor(left)),
         area.y() + static_cast<int>(std::floor(top)));
}

void MainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (std::exchange(watchedForFrame_, true)) {
        return;
    }
    if (frameGeometry().size() != size()) {
        centre();  // framed already: no jump at all
        return;
    }
    // A window manager frames the window once it is mapped and tells the frame's size a moment
    // later: the window is centred again, frame and title bar included, as soon as that is
    // known. Without a window manager no frame comes, and the window stays where it is.
    auto* watch = new QTimer(this);
    watch->setInterval(10);
    QElapsedTimer since;
    since.start();
    connect(watch, &QTimer::timeout, this, [this, watch, since] {
        if (frameGeometry().size() != size()) {
            centre();
        } else if (since.elapsed() < 2000) {
            return;
        }
        watch->stop();
        watch->deleteLater();
    });
    watch->start();
}

void MainForm::onDriveChanged() {
    // A volume that cannot be read leaves the folder as it was; the list keeps the new pick.
    dir_->setPath(drive_->drive());
    file_->setPath(dir_->path());
}

void MainForm::closeNow() {
    if (closing_) {
        return;
    }
    closing_ = true;
    // Nothing of the batch may run after this, not even the write of the file in transfer. A
    // file whose transfer has ended still gets its name, and the one in transfer loses its
    // temporary name, unless the destination does not answer in time: the process is gone
    // within a second whatever the disk does.
    batch_.terminate();
    transfer_.cancel();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    std::future<void> removed = removeReceivingNamesAside();
    batch_.settle(deadline);
    removed.wait_until(deadline);
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
}
void MainForm::setLabel3Caption(const std::string& text) {
    label3_->setText(QString::fromStdString(text));
    label3_->setAccessibleName("進行状況 " + label3_->text());
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
    sb_->showMessage(QString::fromStdString(text));
}
std::string MainForm::turlText() const {
    return tUrl_->text().toStdString();
}
std::string MainForm::dirPath() const {
    return QFile::encodeName(dir_->path()).toStdString();
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
