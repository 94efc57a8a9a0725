// Runs one whole batch of the full-size sample collection against the sample server in this
// process and prints the time, the rate, the connections used and the peak memory.
//
//   full_batch [--profile full|small|tiny] [--folder DIR]

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "batch/batch_run.h"
#include "collection.h"
#include "platform/atomic_file_store.h"
#include "platform/curl_transfer.h"
#include "sample_server.h"
#include "support/quiet_view.h"

int main(int argc, char** argv) {
    using namespace zavoket;
    sample::Profile profile = sample::Profile::Full;
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "zavoket-full-batch";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--profile" && sample::parseProfile(argv[i + 1], profile)) {
            continue;
        }
        if (arg == "--folder") {
            folder = argv[i + 1];
            continue;
        }
        std::fprintf(stderr, "usage: full_batch [--profile full|small|tiny] [--folder DIR]\n");
        return 2;
    }
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);

    const sample::Collection collection(profile, 1);
    httplib::Server server;
    sample::serveCollection(server, collection, {});
    std::mutex mutex;
    std::set<int> connections;
    std::size_t requests = 0;
    server.set_logger([&](const httplib::Request& request, const httplib::Response&) {
        std::lock_guard lock(mutex);
        connections.insert(request.remote_port);
        ++requests;
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });

    Catalogue catalogue;
    catalogue.fill();
    test::QuietView view("http://127.0.0.1:" + std::to_string(port) + "/", folder.string());
    BlockingWaiter waiter;
    CurlTransfer transfer(waiter);
    AtomicFileStore store;
    BatchRun batch(catalogue, view, transfer, store, waiter);

    const auto started = std::chrono::steady_clock::now();
    batch.start();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    server.stop();
    serving.join();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double megabytes = static_cast<double>(collection.totalLength()) / 1e6;
    std::printf("ending: %s (%s)\n", view.label2.c_str(), view.label3.c_str());
    std::printf("%.1f MB in %.2f s: %.1f MB/s\n", megabytes, seconds, megabytes / seconds);
    std::printf("requests: %zu over %zu connection(s)\n", requests, connections.size());
    std::printf("peak RSS (server and generator included): %.1f MB\n",
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::filesystem::remove_all(folder);
    return view.label2 == kActivityFinished ? 0 : 1;
}
