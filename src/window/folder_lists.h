#pragma once

#include <QComboBox>
#include <QIcon>
#include <QString>
#include <QTreeWidget>

#include <memory>

#include "batch/worker.h"

using GUnixMountMonitor = struct _GUnixMountMonitor;

namespace zavoket {

// The mounted volumes a destination can be on: real file systems, by name and mount point.
// A stick plugged in or pulled out while the window is open shows in the list at once.
class DriveList final : public QComboBox {
    Q_OBJECT
  public:
    explicit DriveList(QWidget* parent);
    ~DriveList() override;

    // The mount point of the volume shown.
    [[nodiscard]] QString drive() const;
    // Shows the volume that holds path, without raising driveChanged.
    void showVolumeOf(const QString& path);

    // Each volume's label and mount point.
    using Drives = QList<std::pair<QString, QString>>;

  signals:
    void driveChanged();

  private:
    // Reads the drives again on the reader, then shows them.
    void listAgain();
    // Lists the drives; the one shown stays, even once it is gone, until the user picks another.
    void showDrives(const Drives& drives);

    std::unique_ptr<GUnixMountMonitor, void (*)(void*)> monitor_;
    Worker reader_;  // last: it ends before what it reports to
};

// A folder's canonical path and its subfolders, as read from the disk.
struct FolderListing;

// The folder list in the classic style: the open folder's path from the root down, then the
// open folder's subfolders. Opening an item (double-click or Enter) makes it the open folder;
// highlighting one does not. 新しいフォルダ (its context menu, or F7) asks for a new subfolder.
class FolderList final : public QTreeWidget {
    Q_OBJECT
  public:
    FolderList(QWidget* parent, QIcon openIcon, QIcon closedIcon);

    // The open folder's path, as the system names it.
    [[nodiscard]] QByteArray path() const { return path_; }
    // Opens the folder and raises pathChanged before returning; false (and nothing changed)
    // when it cannot be read. For the start, before the window waits for nothing but events.
    bool setPath(const QByteArray& path);
    bool setPath(const QString& path);
    // Opens the folder once a thread of its own has read it, so that a stick or a share that
    // stops answering never holds the window; nothing changes when it cannot be read.
    void open(const QByteArray& path);

    // Makes the subfolder name in the open folder on that thread, then opens it;
    // folderNotMade says why it could not be.
    void makeFolder(const QString& name);

  signals:
    void pathChanged();
    void newFolderAsked();
    void folderNotMade(const QString& reason);

  private:
    void showListing(const FolderListing& listing);

    QByteArray path_;
    QIcon openIcon_;
    QIcon closedIcon_;
    Worker worker_;  // last: it ends before what it reports to
};

}  // namespace zavoket
