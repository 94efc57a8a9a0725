#include <QApplication>

#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/application.h"
#include "platform/unique_fd.h"
#include "window/main_form.h"
#include "window/owner_thread.h"

namespace {

const char* const kHelp =
    "Usage: zavoket [--version | --help]\n"
    "Opens the Zavoket window, which fetches the Velumio collection (194 files, about 450 MB)\n"
    "from " ZAVOKET_BASE_URL
    "\n"
    "into a folder you pick. It uses the desktop's proxy settings, else http_proxy.\n";

// Whether a socket of the given family answers at address.
bool answers(int family, const sockaddr* address, socklen_t size) {
    const zavoket::UniqueFd socket(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return socket && ::connect(socket.get(), address, size) == 0;
}

bool answersAtPath(const std::string& path, bool abstract = false) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() + 1 >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path + (abstract ? 1 : 0), path.data(), path.size());
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return answers(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), size);
}

// An X server as DISPLAY names it, [host]:number[.screen]: its socket in /tmp/.X11-unix (or
// the abstract one of that name), or TCP port 6000 + number on another host, as after ssh -X.
bool xServerAnswers(const std::string& display) {
    const auto colon = display.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string host = display.substr(0, colon);
    const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    if (host.empty() || host == "unix") {
        const std::string path = "/tmp/.X11-unix/X" + number;
        return answersAtPath(path) || answersAtPath(path, true);
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(6000 + std::atoi(number.c_str())).c_str(),
                      &hints, &found) != 0) {
        return false;
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
    for (const addrinfo* at = addresses.get(); at != nullptr; at = at->ai_next) {
        if (answers(at->ai_family, at->ai_addr, at->ai_addrlen)) {
            return true;
        }
    }
    return false;
}

// A Wayland compositor's socket, named in XDG_RUNTIME_DIR unless its name is a whole path.
bool compositorAnswers(const std::string& display) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return display.starts_with('/') ? answersAtPath(display)
           : runtime != nullptr     ? answersAtPath(std::string(runtime) + "/" + display)
                                    : false;
}

// Qt aborts where no display can be opened, also where one is named that is gone (a DISPLAY
// left from an ssh session): a teacher or an admin at a terminal needs a sentence and an exit
// status instead.
bool aDisplayIsThere() {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    const std::string platform = chosen != nullptr ? chosen : "";
    const auto x11 = [] {
        const char* display = std::getenv("DISPLAY");
        return display != nullptr && xServerAnswers(display);
    };
    const auto wayland = [] {
        const char* display = std::getenv("WAYLAND_DISPLAY");
        return display != nullptr && compositorAnswers(display);
    };
    return platform.empty()                  ? x11() || wayland()
           : platform.starts_with("xcb")     ? x11()
           : platform.starts_with("wayland") ? wayland()
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
            "WAYLAND_DISPLAY names one that answers)\n",
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
