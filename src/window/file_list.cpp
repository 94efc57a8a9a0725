#include "window/file_list.h"

#include <QFile>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/folder_entries.h"
#include "platform/temporary_names.h"

namespace zavoket {
namespace {

// The names of all files in a folder (links to files too), sorted. Read straight from the
// directory: the batch lists the folder after every file, and looking at each entry's details
// the way QDir does would cost more than receiving a small file.
std::optional<QStringList> fileNames(const QByteArray& path) {
    QStringList names;
    const bool read = forEachFolderEntry(path.constData(), [&names](const FolderEntry& entry) {
        // A file still being received is the program's own business, not one of the user's.
        if (!isStoreTemporaryName(entry.name()) && entry.kind() == EntryKind::File) {
            names.append(QFile::decodeName(entry.name()));
        }
    });
    if (!read) {
        return std::nullopt;
    }
    return names;
}

// Soon enough to look immediate, rare enough that a batch of small files never waits for it.
constexpr std::chrono::milliseconds kRefreshDelay(100);

}  // namespace

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    // Every row is one line of the same font: measuring one is enough.
    setUniformItemSizes(true);
}

void FileList::refresh() {
    if (refreshPending_) {
        return;
    }
    refreshPending_ = true;
    QTimer::singleShot(kRefreshDelay, this, [this] {
        refreshPending_ = false;
        list(true);
    });
}

void FileList::open(const QByteArray& path) {
    path_ = path;
    clear();
    newest_.clear();
    list(false);
}

void FileList::list(bool arriving) {
    reader_.post([this, arriving, path = path_] {
        auto names = fileNames(path);
        // A listing of a folder that is no longer shown is of no use.
        QMetaObject::invokeMethod(
            this,
            [this, arriving, path, names = std::move(names)] {
                if (names && path == path_) {
                    showNames(*names, arriving);
                }
            },
            Qt::QueuedConnection);
    });
}

bool FileList::setPath(const QByteArray& path) {
    auto listed = fileNames(path);
    if (!listed) {
        return false;
    }
    path_ = path;
    showNames(*listed, false);
    return true;
}

void FileList::showNames(QStringList names, bool arriving) {
    std::sort(names.begin(), names.end());
    // Files that arrive are brought into sight, the last one added last, as long as the user
    // leaves the list where it follows them: at its end, at the newest file, or (before any
    // came) at its top.
    const QScrollBar* bar = verticalScrollBar();
    const QListWidgetItem* newest = findItems(newest_, Qt::MatchExactly).value(0);
    const bool follow =
        arriving && (bar->value() == bar->maximum() ||
                     (newest != nullptr ? visualItemRect(newest).intersects(viewport()->rect())
                                        : bar->value() == 0));
    // The batch refreshes after every file: only the rows that changed are touched, so a
    // refresh costs little however many files the folder holds.
    QListWidgetItem* added = nullptr;
    int row = 0;
    for (const QString& name : names) {
        while (row < count() && item(row)->text() < name) {
            delete takeItem(row);
        }
        if (row >= count() || item(row)->text() != name) {
            insertItem(row, name);
            added = item(row);
        }
        ++row;
    }
    while (count() > row) {
        delete takeItem(count() - 1);
    }
    if (follow && added != nullptr) {
        newest_ = added->text();
        scrollToItem(added);
    }
}

}  // namespace zavoket
