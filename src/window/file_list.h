#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

#include "batch/worker.h"

namespace zavoket {

// Every file of one folder, by name.
class FileList final : public QListWidget {
  public:
    explicit FileList(QWidget* parent);

    [[nodiscard]] QByteArray path() const { return path_; }
    // Lists the folder now. False (and the old listing kept) when it cannot be listed.
    bool setPath(const QByteArray& path);
    // Lists the folder on another thread, so that a destination that stops answering never
    // holds the window; the list is empty until then, and stays so if it cannot be listed.
    void open(const QByteArray& path);
    // Lists the folder again a moment later, on another thread, so that a destination that
    // stops answering never holds the window; the refreshes asked for meanwhile are served by
    // that one, so a batch of small files does not list the folder after every file.
    void refresh();

  private:
    // arriving: a refresh, which may bring files a batch fetched.
    void list(bool arriving);
    void showNames(QStringList names, bool arriving);

    QByteArray path_;
    QString newest_;  // the last file brought into sight
    bool refreshPending_ = false;
    Worker reader_;  // last: it ends before what its listings are handed to
};

}  // namespace zavoket
