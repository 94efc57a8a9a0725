// Runs one whole batch of the full-size sample collection against the sample server in this
// process and prints the time, the rate, the connections used and the peak memory.
//
//   full_batch [--profile full|small|tiny] [--url URL] [--folder DIR | --exfat] [--named]
//
// --url fetches from that server instead, as the program does. --folder receives into that
// folder and leaves what it received there; without it a fresh folder on the disk is used and
// removed. --exfat receives onto an exFAT file system through FUSE, as on a USB stick (needs
// root). --named receives every file under a temporary name, as where unnamed files do not
// exist. SIGTERM, SIGINT and SIGHUP end it as they end the program.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "exfat_stick.h"
#include "local_batch.h"
#include "local_server.h"
#include "scratch_folder.h"

int main(int argc, char** argv) {
    using namespace zavoket;
    Application::takeOverProcessEndings();
    sample::Profile profile = sample::Profile::Full;
    std::string url;
    std::string folder;
    ApplicationOptions options;
    std::optional<harness::ExfatStick> stick;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = i + 1 < argc;
        if (arg == "--profile" && valued && sample::parseProfile(argv[i + 1], profile)) {
            ++i;
        } else if ((arg == "--url" || arg == "--folder") && valued) {
            (arg == "--url" ? url : folder) = argv[++i];
        } else if (arg == "--named") {
            options.files.unnamedFiles = false;
        } else if (arg == "--exfat" && !stick) {
            if (!stick.emplace(1024).failure().empty()) {
                std::fprintf(stderr, "full_batch: no exFAT stick: %s\n", stick->failure().c_str());
                return 1;
            }
            folder = stick->path().string();
        } else {
            std::fprintf(stderr,
                         "usage: full_batch [--profile full|small|tiny] [--url URL]\n"
                         "                  [--folder DIR | --exfat] [--named]\n");
            return 2;
        }
    }
    std::optional<harness::ScratchFolder> scratch;
    if (folder.empty()) {
        folder = scratch.emplace(std::filesystem::temp_directory_path()).str();
    }
    std::optional<sample::Collection> collection;
    std::optional<harness::LocalServer> server;
    if (url.empty()) {
        url = server.emplace(collection.emplace(profile, 1)).baseUrl();
    }
    harness::LocalBatch run(url, folder, options);

    const auto started = std::chrono::steady_clock::now();
    const bool ended = run.runToEnd(std::chrono::seconds(3600));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const bool whole = ended && !run.view.ending->stopped && run.view.ending->failed.empty();
    std::printf("ending: %s, %zu failed (%zu/194) after %.2f s\n",
                !ended                     ? "none"
                : run.view.ending->stopped ? "stopped"
                                           : "complete",
                ended ? run.view.ending->failed.size() : 0, run.view.number, seconds);
    if (server) {
        const double megabytes = static_cast<double>(collection->totalLength()) / 1e6;
        std::printf("%.1f MB: %.1f MB/s\n", megabytes, megabytes / seconds);
        std::printf("requests: %zu over %zu connection(s)\n", server->paths().size(),
                    server->connectionCount());
        std::printf("peak RSS (server and generator included): %.1f MB\n",
                    static_cast<double>(usage.ru_maxrss) / 1024.0);
    }
    return whole ? 0 : 1;
}
