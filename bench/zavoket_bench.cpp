// Runs one batch in the real window, off screen, as a user would: opens the folder, clicks the
// start button, and waits for the ending text. Prints one line of figures:
//
//   seconds=… ending=… ticks=… max_tick_gap_ms=… max_stall_ms=… idle_rss_kb=… peak_rss_kb=…
//
// seconds runs from the click to the ending; max_tick_gap_ms is the longest time between two
// ticks of the 200 ms animation clock; max_stall_ms how late a 10 ms probe timer ever fired,
// which is how long the window went without handling its events. Each time the status bar
// says a file will be asked for again, that sentence goes to stderr as "status=…" (every
// sentence it says with ZAVOKET_BENCH_ALL_STATUS set), and after any ending but a clean one, what
// it says last as "status_end=…".
//
//   zavoket_bench [--no-flush] URL FOLDER
//
// --no-flush saves files without flushing them to disk, to show what the flush costs.

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/application.h"
#include "window/folder_lists.h"
#include "window/main_form.h"
#include "window/owner_thread.h"
#include "window/status_line.h"

namespace {

long statusField(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(std::string(field).size()));
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool flush = !(argc == 4 && std::string(argv[1]) == "--no-flush");
    if (argc != (flush ? 3 : 4)) {
        std::fprintf(stderr, "usage: zavoket_bench [--no-flush] URL FOLDER\n");
        return 2;
    }
    const char* url = argv[argc - 2];
    const char* folder = argv[argc - 1];
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    zavoket::ApplicationOptions options;
    options.baseUrl = url;
    options.files.flush = flush;
    // Qt's quit closes the window, and the program's close would end the process there and
    // then, before the figures are printed.
    options.exit = [] {};
    zavoket::Application services(options, zavoket::postInto(app));
    zavoket::MainForm form(services, {});
    form.show();
    app.processEvents();
    form.findChild<zavoket::FolderList*>("FolderList")->setPath(QString::fromLocal8Bit(folder));
    app.processEvents();

    // Every tick of the animation clock, to see how long the window ever went unserved.
    auto* timer = form.findChild<QTimer*>("AnimationClock");
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = -1;
    qint64 longestGap = 0;
    long ticks = 0;
    QObject::connect(timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0) {
            longestGap = std::max(longestGap, now - lastTick);
        }
        lastTick = now;
        ++ticks;
    });

    QTimer probe;
    probe.setInterval(10);
    qint64 lastProbe = -1;
    qint64 longestStall = 0;
    auto* activity = form.findChild<QLabel*>("Activity");
    auto* status = form.findChild<zavoket::StatusLine*>("StatusLine");
    QString lastStatus;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (status->message() != lastStatus) {
            lastStatus = status->message();
            if (qEnvironmentVariableIsSet("ZAVOKET_BENCH_ALL_STATUS") ||
                lastStatus.contains("もう一度試みます")) {  // the retry sentence
                std::fprintf(stderr, "status=%s\n", lastStatus.toStdString().c_str());
            }
        }
        if (activity->text().startsWith("終了しました") || activity->text() == "中止しました") {
            // Leaves the event loop without closing the window: Qt 6's quit() closes it, and the
            // window's close ends the process at once, before the figures are printed.
            QCoreApplication::exit(0);
        }
        const qint64 now = clock.nsecsElapsed();
        if (lastProbe >= 0) {
            longestStall = std::max(longestStall, now - lastProbe - 10'000'000);
        }
        lastProbe = now;
    });
    probe.start();

    const long idleRss = statusField("VmRSS:");
    QElapsedTimer run;
    run.start();
    form.findChild<QPushButton*>("StartButton")->click();
    app.exec();  // until the ending shows
    const double seconds = static_cast<double>(run.nsecsElapsed()) / 1e9;
    const QString ending = activity->text();

    std::printf(
        "seconds=%.3f ending=%s ticks=%ld max_tick_gap_ms=%.1f max_stall_ms=%.1f "
        "idle_rss_kb=%ld peak_rss_kb=%ld\n",
        seconds, ending.toStdString().c_str(), ticks, static_cast<double>(longestGap) / 1e6,
        static_cast<double>(longestStall) / 1e6, idleRss, statusField("VmHWM:"));
    std::fflush(stdout);
    if (ending != "終了しました") {  // what went wrong, in the window's words
        std::fprintf(stderr, "status_end=%s\n", status->message().toStdString().c_str());
    }
    return ending == "終了しました" ? 0 : 1;
}
