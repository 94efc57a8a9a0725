#include "window/controls.h"

#include <QFile>
#include <QTimer>

#include <limits.h>
#include <unistd.h>

#include <algorithm>

#include "catalogue/catalogue.h"
#include "window/accessible.h"
#include "window/file_list.h"
#include "window/folder_lists.h"
#include "window/look.h"
#include "window/sentences.h"
#include "window/status_line.h"

namespace zavoket {
namespace {

const char* const kInstructions =
    "最初に画像を保存するフォルダを指定します。次にインターネットに接続してあることを確認して、"
    "ダウンロード開始ボタンをクリックします。そうすると画像のダウンロードが開始されます。"
    "１９４ファイル約４５０MBあります。時間の余裕のあるときに実行してください。";
const char* const kStopNote =
    "中止ボタンをクリックしても動画をダウンロード中は中止処理に時間がかかる場合があります。";

}  // namespace

WindowControls buildControls(QWidget& window, const Catalogue& catalogue, const QString& face) {
    QWidget* const w = &window;
    WindowControls c;
    // Any Japanese Gothic face will do; these are Debian's, most wanted first.
    const QStringList proportional =
        face.isEmpty() ? QStringList{"IPAPGothic", "Noto Sans CJK JP"} : QStringList{face};
    const QStringList fixedPitch =
        face.isEmpty() ? QStringList{"IPAGothic", "Noto Sans Mono CJK JP", "Noto Sans CJK JP"}
                       : QStringList{face};

    window.setFixedSize(678, 372);
    window.setPalette(classicPalette());
    window.setAutoFillBackground(true);
    window.setFont(gothic(proportional, 9));

    // Created back to front: a later sibling is drawn over an earlier one.
    auto* folderHeading =
        makeLabel(w, "FolderHeading", "保存するディレクトリ", fromTwips(360, 2040, 3345, 240));
    paint(folderHeading, kBandColour, Qt::white);
    folderHeading->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    withBorder(folderHeading);
    fitFont(folderHeading);

    c.activity = makeLabel(w, "Activity", QString(), fromTwips(6660, 3480, 3255, 240));
    paint(c.activity, Qt::white, Qt::black);
    c.activity->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    withBorder(c.activity);
    // One size for every text it will show, so the caption does not change size between files.
    QStringList activities = {endingActivity(false, 0), endingActivity(true, 0),
                              endingActivity(false, Catalogue::kSize)};
    for (std::size_t i = 0; i < Catalogue::kSize; ++i) {
        activities.append(downloadingSentence(QString::fromStdString(catalogue.localName(i))));
    }
    fitFont(c.activity, c.activity->contentsRect().height(), activities);
    c.activity->setAccessibleName("現在の処理");

    c.disk = makeImage(w, "MovingDisk", ":/artwork/floppy.ico", fromTwips(5880, 2640, 315, 255),
                       "転送中のファイル");
    c.disk->setScaledContents(true);
    c.openFolder = makeImage(w, "OpenFolderPicture", ":/artwork/folder_open.ico",
                             fromTwips(6120, 7200, 480, 480), "開いたフォルダ");
    c.openFolder->hide();
    c.closedFolder = makeImage(w, "ClosedFolderPicture", ":/artwork/folder_closed.ico",
                               fromTwips(8400, 6960, 480, 480), "閉じたフォルダ");
    c.closedFolder->hide();
    c.globe = makeImage(w, "Globe", ":/artwork/globe.ico", fromTwips(5760, 2520, 480, 480),
                        "インターネット");
    c.destination = makeImage(w, "DestinationFolder", ":/artwork/folder_open_paper.ico",
                              fromTwips(9120, 2520, 480, 480), "保存先のフォルダ");

    c.progress = makeLabel(w, "Progress", "0/194", fromTwips(5640, 3480, 975, 255));
    paint(c.progress, Qt::white, Qt::black);
    c.progress->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    withBorder(c.progress);
    fitFont(c.progress, c.progress->contentsRect().height(), {"194/194"});
    tellAsProgress(c.progress);
    c.progress->setAccessibleName("進行状況");
    c.progress->setAccessibleDescription("ダウンロードを始めたファイルの数と全体の数");

    // The three band lines overlap: each has the height up to the next line's top.
    auto* lead = makeLabel(w, "TitleLead", "Viewer for", fromTwips(360, 240, 9495, 495));
    auto* title = makeLabel(w, "Title", "「Velumio」\r\n", fromTwips(360, 480, 9495, 495));
    auto* subtitle =
        makeLabel(w, "Subtitle", "画像ファイルダウンロードツール", fromTwips(360, 840, 9495, 255));
    title->setAccessibleName(title->text().trimmed());
    asBand(lead, gothic(proportional, 12));
    asBand(title, gothic(proportional, 18));
    asBand(subtitle, gothic(proportional, 12));
    fitFont(lead, title->y() - lead->y(), {lead->text()});
    fitFont(title, subtitle->y() - title->y(), {title->text().trimmed()});
    fitFont(subtitle);

    auto* instructions =
        makeLabel(w, "Instructions", kInstructions, fromTwips(360, 1200, 9495, 780));
    instructions->setWordWrap(true);
    fitFont(instructions);

    auto* filesHeading = makeLabel(w, "FilesHeading", "フォルダ", fromTwips(3720, 2040, 1845, 300));
    paint(filesHeading, kBandColour, Qt::white);
    filesHeading->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    withBorder(filesHeading);
    fitFont(filesHeading);

    // White on the band, so whole only on it: their boxes end at its bottom and short of its
    // right edge, and the caption-fit rule shrinks a face taller or wider than the one they were
    // laid out for.
    const QRect band = lead->geometry() | title->geometry() | subtitle->geometry();
    for (auto* caption :
         {makeLabel(w, "Version", "Ver.１.0", fromTwips(7200, 960, 1215, 255)),
          makeLabel(w, "Maker", "Zavoket Project", fromTwips(8640, 960, 1815, 255))}) {
        QRect box = caption->geometry();
        box.moveBottom(std::min(box.bottom(), band.bottom()));
        caption->setGeometry(box & band.adjusted(0, 0, -4, 0));
        transparentWhite(caption, gothic(proportional, 8.25));
    }

    c.stopNote = makeLabel(w, "StopNote", kStopNote, fromTwips(5760, 1920, 3975, 780));
    c.stopNote->setWordWrap(true);
    fitFont(c.stopNote);
    c.stopNote->hide();

    // Controls with a window of their own lie over the drawn ones.
    c.start = makeButton(w, "StartButton", "ダウンロード開始", fromTwips(5640, 4080, 1935, 375));
    c.start->setAccessibleDescription("194 個のファイルを選んだフォルダにダウンロードします");
    c.stop = makeButton(w, "StopButton", "ダウンロード中止", fromTwips(8040, 4080, 1935, 375));
    c.stop->setAccessibleDescription("今のファイルが終わったところでダウンロードを止めます");
    c.close = makeButton(w, "CloseButton", "終了", fromTwips(7080, 4680, 1695, 375));
    c.close->setAccessibleDescription("Zavoket をすぐに終了します");

    // The lists are named by their headings.
    c.drives = new DriveList(w);
    c.drives->setObjectName("DriveList");
    c.drives->setGeometry(fromTwips(360, 2280, 3375, 300));
    // A drop-down list is named by the label it is the buddy of, on Linux.
    c.drives->setAccessibleName("保存するディレクトリのドライブ");
    c.drives->setAccessibleDescription("保存先のドライブを選びます");
    folderHeading->setBuddy(c.drives);

    c.folders =
        new FolderList(w, QIcon(":/artwork/folder_open.ico"), QIcon(":/artwork/folder_closed.ico"));
    c.folders->setObjectName("FolderList");
    c.folders->setGeometry(fromTwips(360, 2640, 3375, 2400));
    c.folders->setFont(gothic(fixedPitch, 9));
    c.folders->setPalette(window.palette());  // its style sheet stops it from taking the window's
    c.folders->setAccessibleName(folderHeading->text());
    c.folders->setAccessibleDescription("保存先のフォルダ。Enter キーかダブルクリックで開きます");

    c.files = new FileList(w);
    c.files->setObjectName("FileList");
    c.files->setGeometry(fromTwips(3720, 2280, 1815, 2790));
    c.files->setFont(gothic(fixedPitch, 9));
    c.files->setAccessibleName(filesHeading->text());
    c.files->setAccessibleDescription("保存先のフォルダにあるファイル");
    filesHeading->setBuddy(c.files);

    c.status = new StatusLine(w);
    c.status->setObjectName("StatusLine");
    c.status->setGeometry(fromTwips(0, 5205, 10170, 375));

    // Says the ending of a batch to a screen reader at once, wherever the user is; not drawn.
    c.announcement = makeLabel(w, "Announcement", QString(), QRect());
    tellAsNotification(c.announcement);
    c.announcement->hide();

    c.clock = new QTimer(w);
    c.clock->setObjectName("AnimationClock");
    c.clock->setInterval(200);

    QWidget::setTabOrder(c.start, c.stop);
    QWidget::setTabOrder(c.stop, c.close);
    QWidget::setTabOrder(c.close, c.drives);
    QWidget::setTabOrder(c.drives, c.folders);
    QWidget::setTabOrder(c.folders, c.files);

    // The lists show the working folder and its volume until the user picks another.
    char working[PATH_MAX];
    const QByteArray start = ::getcwd(working, sizeof(working)) != nullptr ? working : "/";
    c.drives->showVolumeOf(QFile::decodeName(start));
    c.folders->setPath(start);
    c.files->setPath(c.folders->path());
    return c;
}

}  // namespace zavoket
