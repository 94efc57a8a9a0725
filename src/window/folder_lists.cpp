#include "window/folder_lists.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStorageInfo>

// GLib's words clash with Qt's signals keyword.
#undef signals
#include <gio/gunixmounts.h>
#define signals Q_SIGNALS
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/folder_entries.h"

namespace zavoket {

struct FolderListing {
    QByteArray path;
    QList<std::pair<QString, QByteArray>> subfolders;  // as shown, as named
};

namespace {

QString volumeLabel(const QStorageInfo& volume) {
    QString name = volume.name();
    if (name.isEmpty()) {
        name = QFileInfo(QString::fromUtf8(volume.device())).fileName();
    }
    return name.isEmpty() ? volume.rootPath() : name + " (" + volume.rootPath() + ")";
}

// What the desktop's file manager shows: GLib decides that for GNOME's (removable media under
// /media and /run/media, mounts in the home folder), never a kernel file system, a read-only
// image, /boot or tmpfs. Besides those, the root, the home folder's volume and network shares.
// A place mounted twice (a bind mount) is listed once.
DriveList::Drives shownDrives() {
    static const QByteArrayList kShares = {"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs"};
    QStringList points = {"/", QStorageInfo(QDir::homePath()).rootPath()};
    GList* mounts = g_unix_mounts_get(nullptr);
    for (GList* item = mounts; item != nullptr; item = item->next) {
        auto* mount = static_cast<GUnixMountEntry*>(item->data);
        const char* root = g_unix_mount_get_root_path(mount);
        if ((root == nullptr || std::strcmp(root, "/") == 0) &&
            (g_unix_mount_guess_should_display(mount) ||
             kShares.contains(g_unix_mount_get_fs_type(mount)))) {
            points.append(QFile::decodeName(g_unix_mount_get_mount_path(mount)));
        }
        g_unix_mount_free(mount);
    }
    g_list_free(mounts);
    DriveList::Drives drives;
    QByteArrayList devices;
    for (const QString& point : points) {
        const QStorageInfo volume(point);
        if (volume.isValid() && volume.rootPath() == point && !devices.contains(volume.device())) {
            devices.append(volume.device());
            drives.append({volumeLabel(volume), point});
        }
    }
    std::sort(drives.begin(), drives.end(), [](auto& a, auto& b) { return a.second < b.second; });
    return drives;
}

// Read as bytes: Linux names are bytes, and one that is not UTF-8 (from an old stick or a share)
// must reach the file store as it is, not as its picture on screen.
std::optional<FolderListing> readFolder(const QByteArray& path) {
    char resolved[PATH_MAX];
    struct stat info {};
    if (::realpath(path.constData(), resolved) == nullptr || ::stat(resolved, &info) != 0 ||
        !S_ISDIR(info.st_mode) || ::access(resolved, R_OK | X_OK) != 0) {
        return std::nullopt;
    }
    FolderListing listing{resolved, {}};
    const bool read = forEachFolderEntry(resolved, [&listing](const FolderEntry& entry) {
        if (entry.kind() == EntryKind::Folder) {
            const QByteArray name(entry.name());
            listing.subfolders.append({QFile::decodeName(name), name});
        }
    });
    if (!read) {
        return std::nullopt;
    }
    std::sort(listing.subfolders.begin(), listing.subfolders.end());
    return listing;
}

}  // namespace

DriveList::DriveList(QWidget* parent)
    : QComboBox(parent), monitor_(g_unix_mount_monitor_get(), g_object_unref) {
    // Read on the reader from the start too: a volume that does not answer (a dead share, a
    // stick's stopped daemon) holds it, never the window.
    listAgain();
    connect(this, &QComboBox::currentIndexChanged, this, &DriveList::driveChanged);
    // GLib tells of mounts through Qt's event loop, which runs GLib's main context; a share
    // that stops answering holds only the reader.
    g_signal_connect_swapped(monitor_.get(), "mounts-changed",
                             G_CALLBACK(+[](DriveList* self) { self->listAgain(); }), this);
}

void DriveList::listAgain() {
    reader_.post([this] {
        QMetaObject::invokeMethod(
            this, [this, drives = shownDrives()] { showDrives(drives); }, Qt::QueuedConnection);
    });
}

DriveList::~DriveList() {
    g_signal_handlers_disconnect_by_data(monitor_.get(), this);
}

void DriveList::showDrives(const Drives& drives) {
    const QString shown = drive();
    const QSignalBlocker quiet(this);
    clear();
    for (const auto& [label, point] : drives) {
        addItem(label, point);
    }
    if (!shown.isEmpty()) {
        if (findData(shown) < 0) {
            addItem(shown, shown);
        }
        setCurrentIndex(findData(shown));
    }
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
    auto* make = new QAction("新しいフォルダ", this);
    make->setShortcut(Qt::Key_F7);
    make->setShortcutContext(Qt::WidgetShortcut);
    addAction(make);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(make, &QAction::triggered, this, &FolderList::newFolderAsked);
    connect(this, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { open(item->data(0, Qt::UserRole).toByteArray()); });
}

void FolderList::makeFolder(const QString& name) {
    if (name.isEmpty() || name.contains('/') || name == "." || name == "..") {
        emit folderNotMade("「" + name + "」はフォルダの名前にできません。");
        return;
    }
    const QByteArray made = path_ + (path_.endsWith('/') ? "" : "/") + QFile::encodeName(name);
    worker_.post([this, made] {
        const int error = ::mkdir(made.constData(), 0777) == 0 ? 0 : errno;
        QMetaObject::invokeMethod(
            this,
            [this, error, listing = error == 0 ? readFolder(made) : std::nullopt] {
                if (error != 0) {
                    emit folderNotMade(QString::fromLocal8Bit(std::strerror(error)));
                } else if (!listing) {
                    emit folderNotMade("作ったフォルダを開けません。");
                } else {
                    showListing(*listing);
                }
            },
            Qt::QueuedConnection);
    });
}

bool FolderList::setPath(const QString& path) {
    return setPath(QFile::encodeName(path));
}

bool FolderList::setPath(const QByteArray& path) {
    const auto listing = readFolder(path);
    if (listing) {
        showListing(*listing);
    }
    return listing.has_value();
}

void FolderList::open(const QByteArray& path) {
    worker_.post([this, path] {
        QMetaObject::invokeMethod(
            this,
            [this, listing = readFolder(path)] {
                if (listing) {
                    showListing(*listing);
                }
            },
            Qt::QueuedConnection);
    });
}

void FolderList::showListing(const FolderListing& listing) {
    clear();
    QTreeWidgetItem* item = new QTreeWidgetItem(this, {"/"});
    item->setData(0, Qt::UserRole, QByteArray("/"));
    item->setIcon(0, openIcon_);
    QByteArray walked;
    for (const QByteArray& part : listing.path.split('/')) {
        if (!part.isEmpty()) {
            walked += "/" + part;
            item = new QTreeWidgetItem(item, {QFile::decodeName(part)});
            item->setData(0, Qt::UserRole, walked);
            item->setIcon(0, openIcon_);
        }
    }
    QTreeWidgetItem* open = item;
    for (const auto& [shown, name] : listing.subfolders) {
        auto* child = new QTreeWidgetItem(open, {shown});
        child->setData(0, Qt::UserRole, walked + "/" + name);
        child->setIcon(0, closedIcon_);
    }
    expandAll();
    setCurrentItem(open);
    path_ = listing.path;
    emit pathChanged();
}

}  // namespace zavoket
