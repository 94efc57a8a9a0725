#include "window/folder_lists.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStorageInfo>

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

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
            [this](QTreeWidgetItem* item) { setPath(item->data(0, Qt::UserRole).toByteArray()); });
}

bool FolderList::setPath(const QString& path) {
    return setPath(QFile::encodeName(path));
}

// Read as bytes: Linux names are bytes, and one that is not UTF-8 (from an old stick or a share)
// must reach the file store as it is, not as its picture on screen.
bool FolderList::setPath(const QByteArray& path) {
    char resolved[PATH_MAX];
    struct stat info {};
    if (::realpath(path.constData(), resolved) == nullptr || ::stat(resolved, &info) != 0 ||
        !S_ISDIR(info.st_mode) || ::access(resolved, R_OK | X_OK) != 0) {
        return false;
    }
    const QByteArray canonical(resolved);
    DIR* dir = ::opendir(resolved);
    if (dir == nullptr) {
        return false;
    }
    QList<std::pair<QString, QByteArray>> subfolders;  // as shown, as named
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        struct stat child {};
        const bool folder =
            entry->d_type == DT_DIR ||
            ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
             ::fstatat(::dirfd(dir), entry->d_name, &child, 0) == 0 && S_ISDIR(child.st_mode));
        if (folder && name != "." && name != "..") {
            subfolders.append({QFile::decodeName(name), name});
        }
    }
    ::closedir(dir);
    std::sort(subfolders.begin(), subfolders.end());

    clear();
    QTreeWidgetItem* item = new QTreeWidgetItem(this, {"/"});
    item->setData(0, Qt::UserRole, QByteArray("/"));
    item->setIcon(0, openIcon_);
    QByteArray walked;
    for (const QByteArray& part : canonical.split('/')) {
        if (!part.isEmpty()) {
            walked += "/" + part;
            item = new QTreeWidgetItem(item, {QFile::decodeName(part)});
            item->setData(0, Qt::UserRole, walked);
            item->setIcon(0, openIcon_);
        }
    }
    QTreeWidgetItem* open = item;
    for (const auto& [shown, name] : subfolders) {
        auto* child = new QTreeWidgetItem(open, {shown});
        child->setData(0, Qt::UserRole, (walked.isEmpty() ? QByteArray() : walked) + "/" + name);
        child->setIcon(0, closedIcon_);
    }
    expandAll();
    setCurrentItem(open);
    path_ = canonical;
    emit pathChanged();
    return true;
}

}  // namespace zavoket
