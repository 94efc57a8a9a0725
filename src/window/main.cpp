#include <QApplication>

#include <cstdlib>

#include "platform/atomic_file_store.h"
#include "window/main_form.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zavoket::removeTemporaryNamesOnSignals();
    zavoket::MainFormOptions options;
    options.baseUrl = ZAVOKET_BASE_URL;
    // Closing ends the process there and then, even from inside a transfer: nothing more runs.
    options.endProgram = [] { std::_Exit(0); };
    zavoket::MainForm form(std::move(options));
    form.show();
    return app.exec();
}
