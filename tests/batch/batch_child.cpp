// Runs one batch and nothing else, so that a test can kill it at any moment.
//
//   batch_child URL FOLDER [named]
//
// "named" receives every file under a temporary name, as on a USB stick. SIGTERM, SIGINT and
// SIGHUP end it as they end the program.

#include <cstdio>

#include "batch/batch_run.h"
#include "platform/atomic_file_store.h"
#include "platform/curl_transfer.h"
#include "support/quiet_view.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: batch_child URL FOLDER [named]\n");
        return 2;
    }
    zavoket::removeTemporaryNamesOnSignals();
    zavoket::Catalogue catalogue;
    catalogue.fill();
    zavoket::test::QuietView view(argv[1], argv[2]);
    zavoket::BlockingWaiter waiter;
    zavoket::CurlTransfer transfer(waiter);
    zavoket::AtomicFileStore store({.unnamedFiles = argc < 4});
    zavoket::BatchRun batch(catalogue, view, transfer, store, waiter);
    batch.start();
    std::printf("%s %s\n", view.label3.c_str(), view.label2.c_str());
    return 0;
}
