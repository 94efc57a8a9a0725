// Serves a generated stand-in for the teaching collection on 127.0.0.1, for demos and tests.

#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "collection.h"
#include "sample_server.h"

namespace {

int usage() {
    std::cerr << "usage: zavoket-sample-server [--profile small|full|tiny] [--seed N] [--port N]\n"
                 "                             [--rate BYTES_PER_S[k|M]] [--log]\n"
                 "                             [--latency MS] [--link BYTES_PER_S[k|M]]\n"
                 "                             [--misbehave PERCENT] [--write FOLDER] [--paths]\n"
                 "Serves the sample collection at http://127.0.0.1:PORT/FOLDER/NAME (port 8194\n"
                 "by default); with --write, writes it to FOLDER instead and exits; with --paths,\n"
                 "prints each file's FOLDER/NAME in download order and exits. --misbehave answers\n"
                 "so many requests in a hundred as a school network may: error pages, a portal's\n"
                 "page, cut or stalled connections and the like. --latency and --link stand in\n"
                 "for a far server: each answer waits a round trip of MS before its first byte,\n"
                 "and all connections share one link of that rate.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zavoket::sample;
    Profile profile = Profile::Small;
    std::uint64_t seed = 1;
    int port = 8194;
    ServeOptions options;
    bool log = false;
    std::string writeFolder;
    bool printPaths = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::exit(usage());
            }
            return argv[++i];
        };
        if (arg == "--profile") {
            if (!parseProfile(value(), profile)) {
                return usage();
            }
        } else if (arg == "--seed") {
            seed = std::stoull(value());
        } else if (arg == "--port") {
            port = std::stoi(value());
        } else if (arg == "--rate") {
            if (!parseRate(value(), options.bytesPerSecond)) {
                return usage();
            }
        } else if (arg == "--latency") {
            options.latencyMs = static_cast<unsigned>(std::stoul(value()));
        } else if (arg == "--link") {
            if (!parseRate(value(), options.linkBytesPerSecond)) {
                return usage();
            }
        } else if (arg == "--misbehave") {
            options.misbehavePercent = static_cast<unsigned>(std::stoul(value()));
        } else if (arg == "--log") {
            log = true;
        } else if (arg == "--paths") {
            printPaths = true;
        } else if (arg == "--write") {
            writeFolder = value();
        } else {
            return usage();
        }
    }

    const Collection collection(profile, seed);
    options.seed = seed;
    if (printPaths) {
        for (std::size_t i = 0; i < collection.size(); ++i) {
            std::cout << collection.urlPath(i) << "\n";
        }
        return 0;
    }
    if (!writeFolder.empty()) {
        collection.writeTo(writeFolder);
        std::cout << "wrote " << collection.size() << " files, " << collection.totalLength()
                  << " bytes, to " << writeFolder << "\n";
        return 0;
    }

    // Signals are taken by one thread that stops the server; the others never see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    httplib::Server server;
    serveCollection(server, collection, options);
    if (log) {
        server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
            std::printf("%s:%d %s %s %d\n", request.remote_addr.c_str(), request.remote_port,
                        request.method.c_str(), request.path.c_str(), response.status);
            std::fflush(stdout);
        });
    }
    // Only SO_REUSEADDR: the library's default SO_REUSEPORT would share a port that another
    // server holds, silently, and half the requests would go there.
    server.set_socket_options([](socket_t socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    if (!server.bind_to_port("127.0.0.1", port)) {
        std::cerr << "zavoket-sample-server: port " << port
                  << " on 127.0.0.1 is taken by another program\n";
        return 1;
    }
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    stopper.detach();
    std::cout << "serving " << collection.size() << " files, " << collection.totalLength()
              << " bytes, at http://127.0.0.1:" << port << "/" << std::endl;
    server.listen_after_bind();
    return 0;
}
