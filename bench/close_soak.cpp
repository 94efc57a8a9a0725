// Ends batches at random moments and counts those that left a temporary name behind: closes
// (the program's own close, in this process) and SIGTERMs (a full_batch child), onto an exFAT
// stick through FUSE where one can be mounted, else into a folder on the disk.
//
//   close_soak [--runs N] [--seed S] [--full-batch PATH]
//
// Each run fetches the small collection from a server in this process and ends 0 to 400 ms
// into the batch (drawn from the seed). A run leaves debris when a temporary name stands in the
// folder 3 s after the close has returned. Prints one line a run that left some, and a summary.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "exfat_stick.h"
#include "local_batch.h"
#include "local_server.h"
#include "platform/temporary_names.h"
#include "process.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool debrisAfterAWhile(const fs::path& folder) {
    const auto left = [&] {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (zavoket::isStoreTemporaryName(entry.path().filename().string())) {
                return true;
            }
        }
        return false;
    };
    for (int i = 0; i < 30 && left(); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    return left();
}

void empty(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        fs::remove_all(entry.path());
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zavoket;
    int runs = 50;
    unsigned seed = 1;
    std::string fullBatch;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        arg == "--runs"         ? runs = std::atoi(argv[i + 1])
        : arg == "--seed"       ? seed = static_cast<unsigned>(std::atol(argv[i + 1]))
        : arg == "--full-batch" ? (fullBatch = argv[i + 1], 0)
                                : (std::fprintf(stderr, "close_soak: unknown %s\n", argv[i]), 0);
    }
    std::optional<harness::ExfatStick> stick(std::in_place, 256);
    std::optional<harness::ScratchFolder> disk;
    const fs::path folder = stick->failure().empty() ? stick->path() : disk.emplace().path();
    std::printf("into %s (%s)\n", folder.c_str(),
                stick->failure().empty() ? "exFAT through FUSE" : stick->failure().c_str());
    const sample::Collection collection(sample::Profile::Small, 5);
    harness::LocalServer server(collection);
    std::mt19937 random(seed);
    int closesLeft = 0;
    int killsLeft = 0;
    for (int run = 0; run < runs; ++run) {
        const auto delay = std::chrono::milliseconds(random() % 400);
        const bool kill = !fullBatch.empty() && run % 2 == 1;
        bool left = false;
        if (kill) {
            harness::Process child({fullBatch, "--url", server.baseUrl(), "--folder", folder});
            std::this_thread::sleep_for(delay);
            child.end(SIGTERM);
            left = debrisAfterAWhile(folder);
        } else {
            // The program's close ends the process: nothing of the batch is destroyed before the
            // folder is looked at.
            harness::LocalBatch batch(server.baseUrl(), folder.string());
            batch.batch.start();
            batch.queue.runUntil([] { return false; }, delay);
            batch.app.shutdown(std::chrono::steady_clock::now() + 500ms);
            left = debrisAfterAWhile(folder);
        }
        if (left) {
            ++(kill ? killsLeft : closesLeft);
            std::printf("run %d (%s after %lld ms) left a temporary name\n", run,
                        kill ? "SIGTERM" : "close", static_cast<long long>(delay.count()));
        }
        empty(folder);
    }
    const int kills = fullBatch.empty() ? 0 : runs / 2;
    std::printf("closes: %d of %d left debris; SIGTERMs: %d of %d\n", closesLeft, runs - kills,
                killsLeft, kills);
    return closesLeft + killsLeft == 0 ? 0 : 1;
}
