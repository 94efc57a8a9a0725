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
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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
std::optional<std::vector<std::string>> fileNames(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> names;
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
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
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

// Lists folders on a thread of its own, so that a destination that stops answering never holds
// the window, and hands the names back on the window's thread. The newest request wins.
class FileList::Reader {
  public:
    explicit Reader(FileList& list) : list_(list), thread_([this] { run(); }) {}
    ~Reader() {
        {
            std::lock_guard lock(mutex_);
            quitting_ = true;
        }
        asked_.notify_one();
        thread_.join();
    }

    void read(const QString& path) {
        {
            std::lock_guard lock(mutex_);
            request_ = QFile::encodeName(path).toStdString();
        }
        asked_.notify_one();
    }

    // The newest listing: its folder, and its names unless the folder could not be read.
    std::optional<std::pair<QString, std::optional<QStringList>>> take() {
        std::lock_guard lock(mutex_);
        if (!result_) {
            return std::nullopt;
        }
        auto [path, names] = *std::exchange(result_, std::nullopt);
        std::optional<QStringList> list;
        if (names) {
            list.emplace();
            for (const auto& name : *names) {
                list->append(QFile::decodeName(name.c_str()));
            }
        }
        return std::pair{QFile::decodeName(path.c_str()), list};
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            asked_.wait(lock, [this] { return request_ || quitting_; });
            if (quitting_) {
                return;
            }
            const std::string path = *std::exchange(request_, std::nullopt);
            lock.unlock();
            auto names = fileNames(path);
            lock.lock();
            result_.emplace(path, std::move(names));
            QMetaObject::invokeMethod(
                &list_, [list = &list_] { list->showRead(); }, Qt::QueuedConnection);
        }
    }

    FileList& list_;
    std::mutex mutex_;
    std::condition_variable asked_;
    std::optional<std::string> request_;
    std::optional<std::pair<std::string, std::optional<std::vector<std::string>>>> result_;
    bool quitting_ = false;
    std::thread thread_;  // last: it starts once the rest is in place
};

FileList::FileList(QWidget* parent)
    : QListWidget(parent), reader_(std::make_unique<Reader>(*this)) {
    // Every row is one line of the same font: measuring one is enough.
    setUniformItemSizes(true);
}

FileList::~FileList() = default;

// Soon enough to look immediate, rare enough that a batch of small files never waits for it.
constexpr std::chrono::milliseconds kRefreshDelay(100);

void FileList::refresh() {
    if (refreshPending_) {
        return;
    }
    refreshPending_ = true;
    QTimer::singleShot(kRefreshDelay, this, [this] {
        refreshPending_ = false;
        reader_->read(path_);
    });
}

void FileList::showRead() {
    auto read = reader_->take();
    // A listing of a folder that is no longer shown is of no use.
    if (read && read->first == path_ && read->second) {
        show(*read->second);
    }
}

bool FileList::setPath(const QString& path) {
    auto listed = fileNames(QFile::encodeName(path).toStdString());
    if (!listed) {
        return false;
    }
    path_ = path;
    QStringList names;
    for (const auto& name : *listed) {
        names.append(QFile::decodeName(name.c_str()));
    }
    show(names);
    return true;
}

void FileList::show(QStringList names) {
    std::sort(names.begin(), names.end());
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
}

}  // namespace zavoket
