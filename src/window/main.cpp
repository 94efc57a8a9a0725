#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/application.h"
#include "window/main_form.h"
#include "window/owner_thread.h"

namespace {

const char* const kHelp =
    "Usage: zavoket [--version | --help]\n"
    "Opens the Zavoket window, which fetches the Velumio collection (194 files, about 450 MB)\n"
    "from " ZAVOKET_BASE_URL
    "\n"
    "into a folder you pick. It uses the desktop's proxy settings, else http_proxy.\n";

// Qt aborts where no display can be opened; a teacher or an admin at a terminal needs a
// sentence and an exit status instead.
bool aDisplayIsThere() {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    const std::string platform = chosen != nullptr ? chosen : "";
    const bool x11 = std::getenv("DISPLAY") != nullptr;
    const bool wayland = std::getenv("WAYLAND_DISPLAY") != nullptr;
    return platform.empty()                  ? x11 || wayland
           : platform.starts_with("xcb")     ? x11
           : platform.starts_with("wayland") ? wayland
                                             : true;  // offscreen, vnc and the like
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("zavoket %s\n", ZAVOKET_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    if (!aDisplayIsThere()) {
        std::fputs(
            "zavoket: no display to open the window on (neither DISPLAY nor "
            "WAYLAND_DISPLAY is set)\n",
            stderr);
        return 1;
    }
    QApplication qt(argc, argv);
    // The desktop entry's name, as Wayland's app id and X11's window class: the window gets its
    // launcher's icon and name.
    QGuiApplication::setDesktopFileName(ZAVOKET_APP_ID);
    QApplication::setApplicationName(ZAVOKET_APP_ID);
    QApplication::setApplicationVersion(ZAVOKET_VERSION);
    zavoket::Application::takeOverProcessEndings();
    zavoket::ApplicationOptions services;
    services.baseUrl = ZAVOKET_BASE_URL;
    zavoket::Application app(services, zavoket::postInto(qt));
    zavoket::MainForm form(app, {});
    form.show();
    return qt.exec();
}
