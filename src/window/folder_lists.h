#pragma once

#include <QComboBox>
#include <QIcon>
#include <QListWidget>
#include <QString>
#include <QTreeWidget>

#include <memory>

namespace zavoket {

// The mounted volumes a destination can be on: real file systems, by name and mount point.
class DriveList final : public QComboBox {
    Q_OBJECT
  public:
    explicit DriveList(QWidget* parent);

    // The mount point of the volume shown.
    [[nodiscard]] QString drive() const;
    // Shows the volume that holds path, without raising driveChanged.
    void showVolumeOf(const QString& path);

  signals:
    void driveChanged();
};

// The folder list in the classic style: the open folder's path from the root down, then the
// open folder's subfolders. Opening an item (double-click or Enter) makes it the open folder;
// highlighting one does not.
class FolderList final : public QTreeWidget {
    Q_OBJECT
  public:
    FolderList(QWidget* parent, QIcon openIcon, QIcon closedIcon);

    [[nodiscard]] QString path() const { return path_; }
    // Opens the folder and raises pathChanged before returning; false (and nothing changed)
    // when it cannot be read.
    bool setPath(const QString& path);

  signals:
    void pathChanged();

  private:
    QString path_;
    QIcon openIcon_;
    QIcon closedIcon_;
};

// Every file of one folder, by name.
class FileList final : public QListWidget {
  public:
    explicit FileList(QWidget* parent);
    ~FileList() override;

    [[nodiscard]] QString path() const { return path_; }
    // Lists the folder now. False (and the old listing kept) when it cannot be listed.
    bool setPath(const QString& path);
    // Lists the folder again a moment later, on another thread; the refreshes asked for
    // meanwhile are served by that one, so a batch of small files does not list the folder
    // after every file.
    void refresh();

  private:
    class Reader;
    void showRead();
    void show(QStringList names);

    QString path_;
    bool refreshPending_ = false;
    std::unique_ptr<Reader> reader_;
};

}  // namespace zavoket
