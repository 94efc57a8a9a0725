#include "window/folder_lists.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QTimer>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "platform/atomic_file_store.h"

namespace zavoket {
namespace {

// Kernel and runtime file systems are no place for a collection of files.
bool isRealVolume(const QStorageInfo& volume) {
    static const QStringList kPseudo = {
        "proc",       "sysfs",    "devtmpfs",   "devpts",  "cgroup",      "cgroup2",
        "securityfs", "pstore",   "debugfs",    "tracefs", "mqueue",      "hugetlbfs",
        "fusectl",    "configfs", "bpf",        "autofs",  "binfmt_misc", "efivarfs",
        "nsfs",       "ramfs",    "rpc_pipefs", "nfsd"};
    const QString root = volume.rootPath();
    const bool systemPlace = root.startsWith("/proc") || root.startsWith("/sys") ||
                             root.startsWith("/dev") ||
                             (root.startsWith("/run") && !root.startsWith("/run/media"));
    return volume.isValid() && !systemPlace &&
           !kPseudo.contains(QString::fromUtf8(volume.fileSystemType()));
}

QString volumeLabel(const QStorageInfo& volume) {
    QString name = volume.name();
    if (name.isEmpty()) {
        name = QFileInfo(QString::fromUtf8(volume.device())).fileName();
    }
    return name.isEmpty() ? volume.rootPath() : name + " (" + volume.rootPath() + ")";
}

// The names of all files in a folder (links to files too), sorted. Read straight from the
// directory: the batch lists the folder after every file, and looking at each entry's details
// the way QDir does would cost more than receiving a small file.
std::optional<QStringList> fileNames(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    DIR* dir = ::opendir(encoded.constData());
    if (dir == nullptr) {
        return std::nullopt;
    }
    QStringList names;
    while (const dirent* entry = ::readdir(dir)) {
        // A file still being received is the program's own business, not one of the user's.
        if (isStoreTemporaryName(entry->d_name)) {
            continue;
        }
        bool isFile = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            isFile = ::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (isFile) {
            names.append(QFile::decodeName(entry->d_name));
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    auto volumes = QStorageInfo::mountedVolumes();
    std::sort(volumes.begin(), volumes.end(), [](const QStorageInfo& a, const QStorageInfo& b) {
        return a.rootPath() < b.rootPath();
    });
    for (const auto& volume : volumes) {
        if (isRealVolume(volume) && findData(volume.rootPath()) < 0) {
            addItem(volumeLabel(volume), volume.rootPath());
        }
    }
    connect(this, &QComboBox::currentIndexChanged, this, &DriveList::driveChanged);
}

QString DriveList::drive() const {
    return currentData().toString();
}

void DriveList::showVolumeOf(const QString& path) {
    const QString root = QStorageInfo(path).rootPath();
    int index = findData(root);
    if (index < 0) {
        addItem(root, root);
        index = count() - 1;
    }
    const QSignalBlocker quiet(this);
    setCurrentIndex(index);
}

FolderList::FolderList(QWidget* parent, QIcon openIcon, QIcon closedIcon)
    : QTreeWidget(parent), openIcon_(std::move(openIcon)), closedIcon_(std::move(closedIcon)) {
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(8);
    // A flat list that only looks like a tree: nothing here folds or unfolds.
    setStyleSheet("QTreeView::branch { image: none; border-image: none; }");
    setIconSize(QSize(16, 16));
    connect(this, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { setPath(item->data(0, Qt::UserRole).toString()); });
}

bool FolderList::setPath(const QString& path) {
    const QDir dir(path);
    const QFileInfo info(path);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable()) {
        return false;
    }
    const QString canonical = dir.canonicalPath();
    if (canonical.isEmpty()) {
        return false;
    }
    const QStringList subfolders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);

    clear();
    QTreeWidgetItem* item = new QTreeWidgetItem(this, {"/"});
    item->setData(0, Qt::UserRole, "/");
    item->setIcon(0, openIcon_);
    QString walked;
    for (const QString& part : canonical.split('/', Qt::SkipEmptyParts)) {
        walked += "/" + part;
        item = new QTreeWidgetItem(item, {part});
        item->setData(0, Qt::UserRole, walked);
        item->setIcon(0, openIcon_);
    }
    QTreeWidgetItem* open = item;
    for (const QString& name : subfolders) {
        auto* child = new QTreeWidgetItem(open, {name});
        child->setData(0, Qt::UserRole, QDir(canonical).filePath(name));
        child->setIcon(0, closedIcon_);
    }
    expandAll();
    setCurrentItem(open);
    path_ = canonical;
    emit pathChanged();
    return true;
}

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    // Every row is one line of the same font: measuring one is enough.
    setUniformItemSizes(true);
}

// Soon enough to look immediate, rare enough that a batch of small files never waits for it.
constexpr std::chrono::milliseconds kRefreshDelay(100);

void FileList::refresh() {
    if (refreshPending_) {
        return;
    }
    refreshPending_ = true;
    QTimer::singleShot(kRefreshDelay, this, [this] {
        refreshPending_ = false;
        setPath(path_);
    });
}

bool FileList::setPath(const QString& path) {
    const auto listed = fileNames(path);
    if (!listed) {
        return false;
    }
    const QStringList& names = *listed;
    // The batch refreshes after every file: only the rows that changed are touched, so a
    // refresh costs little however many files the folder holds.
    int row = 0;
    for (const QString& name : names) {
        while (row < count() && item(row)->text() < name) {
            delete takeItem(row);
        }
        if (row >= count() || item(row)->text() != name) {
            insertItem(row, name);
        }
        ++row;
    }
    while (count() > row) {
        delete takeItem(count() - 1);
    }
    path_ = path;
    return true;
}

}  // namespace zavoket
