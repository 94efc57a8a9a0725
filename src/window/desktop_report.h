#pragma once

#include <QDBusConnection>
#include <QString>
#include <QVariantMap>

#include <cstddef>
#include <optional>

#include "batch/worker.h"

class QDBusMessage;

namespace zavoket {

// Tells the desktop how a batch goes while the teacher is at other work: its progress on the
// program's taskbar entry, and its ending in a notification. Everything goes out on the session
// bus from a thread of its own, as messages nobody waits for an answer to: the window never
// waits on the bus, and without a bus, or with nobody listening, nothing at all happens.
class DesktopReport {
  public:
    DesktopReport();
    ~DesktopReport();
    DesktopReport(const DesktopReport&) = delete;
    DesktopReport& operator=(const DesktopReport&) = delete;

    void batchStarted();
    void progressed(std::size_t done, std::size_t total);
    // headline is the ending's own text; details what the status line says of it (the files
    // that failed, the first by name), or nothing. The desktop is told only when the user is
    // not looking at the window; an ending with failures asks for attention on the taskbar.
    void ended(const QString& headline, const QString& details, bool failures, bool windowActive);
    // The user is back at the window: the taskbar entry stops asking for attention.
    void windowActivated();

  private:
    void showOnTaskbar(const QVariantMap& properties);
    void send(QDBusMessage message);

    // Read on the window's thread: the environment is not to be read on another.
    const QString address_;
    const QString connectionName_;
    bool urgent_ = false;
    std::optional<QDBusConnection> bus_;  // the worker's own
    Worker worker_;                       // last: it ends before what its tasks use
};

}  // namespace zavoket
