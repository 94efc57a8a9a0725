#include "window/folder_lists.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStorageInfo>

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

}  // namespace zavoket
