#include <QApplication>

#include <cstdlib>

#include "app/application.h"
#include "platform/temporary_names.h"
#include "window/event_loop_waiter.h"
#include "window/main_form.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    zavoket::installSignalCleanup();
    // Qt ends the process with exit() when the display goes away (a forced logout).
    std::atexit([] { zavoket::removeTemporaryNamesAfterExit(); });
    zavoket::EventLoopWaiter waiter;
    zavoket::ApplicationOptions services;
    services.baseUrl = ZAVOKET_BASE_URL;
    zavoket::Application app(services, waiter);
    zavoket::MainFormOptions look;
    // Closing ends the process there and then, even from inside a transfer: nothing more runs.
    look.endProgram = [] { std::_Exit(0); };
    zavoket::MainForm form(app, look);
    form.show();
    return qt.exec();
}
