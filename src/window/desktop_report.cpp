#include "window/desktop_report.h"

#include <QDBusMessage>
#include <QStringList>

#include <utility>

namespace zavoket {
namespace {

// The taskbars that show a progress (KDE Plasma's, Ubuntu's dock, Dash to Dock) find the
// program's entry by its desktop file.
const char* const kLauncherEntry = "application://" ZAVOKET_APP_ID ".desktop";

}  // namespace

DesktopReport::DesktopReport()
    : address_(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")),
      connectionName_(QString("zavoket-desktop-report-%1").arg(quintptr(this))) {}

DesktopReport::~DesktopReport() {
    worker_.post([this] {
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
    });
}

void DesktopReport::batchStarted() {
    urgent_ = false;
    showOnTaskbar({{"progress", 0.0}, {"progress-visible", true}, {"urgent", false}});
}

void DesktopReport::progressed(std::size_t done, std::size_t total) {
    const double progress = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0;
    showOnTaskbar({{"progress", progress}, {"progress-visible", true}});
}

void DesktopReport::ended(const QString& headline, const QString& details, bool failures,
                          bool windowActive) {
    if (!windowActive) {
        QDBusMessage notify = QDBusMessage::createMethodCall(
            "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
            "org.freedesktop.Notifications", "Notify");
        // No actions, and the server's own time on screen.
        notify << QString("Zavoket") << 0u << QString(ZAVOKET_APP_ID) << headline << details
               << QStringList() << QVariantMap{{"desktop-entry", QString(ZAVOKET_APP_ID)}} << -1;
        send(std::move(notify));
    }
    urgent_ = failures && !windowActive;
    showOnTaskbar({{"progress-visible", false}, {"urgent", urgent_}});
}

void DesktopReport::windowActivated() {
    if (std::exchange(urgent_, false)) {
        showOnTaskbar({{"urgent", false}});
    }
}

void DesktopReport::showOnTaskbar(const QVariantMap& properties) {
    QDBusMessage update = QDBusMessage::createSignal("/org/zavoket/zavoket/launcher",
                                                     "com.canonical.Unity.LauncherEntry", "Update");
    update << QString(kLauncherEntry) << properties;
    send(std::move(update));
}

void DesktopReport::send(QDBusMessage message) {
    worker_.post([this, message = std::move(message)] {
        // Connecting waits for the bus's hello: here, never on the window's thread.
        if (!bus_) {
            bus_ = address_.isEmpty()
                       ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)
                       : QDBusConnection::connectToBus(address_, connectionName_);
        }
        // Nobody is waited for: a bus or a notification server that is not there is no error.
        (void)bus_->send(message);
    });
}

}  // namespace zavoket
