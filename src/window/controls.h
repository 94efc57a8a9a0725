#pragma once

#include <QString>

class QLabel;
class QPushButton;
class QTimer;
class QWidget;

namespace zavoket {

class Catalogue;
class DriveList;
class FileList;
class FolderList;
class StatusLine;

// The window's controls that anything talks to after they are built. Each is a child of the
// window under an object name that says what it is.
struct WindowControls {
    QPushButton* start = nullptr;
    QPushButton* stop = nullptr;
    QPushButton* close = nullptr;
    DriveList* drives = nullptr;
    FolderList* folders = nullptr;
    FileList* files = nullptr;
    StatusLine* status = nullptr;
    QTimer* clock = nullptr;         // the animation's
    QLabel* openFolder = nullptr;    // hidden: the picture the destination shows as the disk
    QLabel* closedFolder = nullptr;  // arrives, and between arrivals
    QLabel* disk = nullptr;          // the file in transfer, on its way
    QLabel* globe = nullptr;
    QLabel* destination = nullptr;
    QLabel* activity = nullptr;      // what the batch is doing
    QLabel* progress = nullptr;      // "N/194"
    QLabel* stopNote = nullptr;      // what a stop takes
    QLabel* announcement = nullptr;  // the ending, for a screen reader; never drawn
};

// Builds every control of window at its place, in one Japanese Gothic face (empty: IPA
// (P)Gothic, or Noto Sans CJK JP), with captions sized to what they will show.
[[nodiscard]] WindowControls buildControls(QWidget& window, const Catalogue& catalogue,
                                           const QString& face);

}  // namespace zavoket
