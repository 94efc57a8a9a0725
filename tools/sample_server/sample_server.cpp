#include "sample_server.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "misbehaviour.h"

namespace zavoket::sample {

void serveCollection(httplib::Server& server, const Collection& collection, ServeOptions options) {
    // Headers and body go out in separate writes; without this each response would wait for
    // the client's delayed acknowledgement.
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(100'000);
    server.set_keep_alive_timeout(30);
    auto random = std::make_shared<std::pair<std::mutex, std::mt19937_64>>();
    random->second.seed(options.seed);
    // When the shared link is next free: each chunk takes its turn on it.
    auto link = std::make_shared<std::pair<std::mutex, std::chrono::steady_clock::time_point>>();
    server.Get(R"(/.*)", [&collection, options, random, link](const httplib::Request& request,
                                                              httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options.latencyMs));
        if (answerDetour(collection, request, response)) {
            return;
        }
        const long index = collection.find(request.path);
        if (index >= 0 && options.misbehavePercent > 0) {
            std::lock_guard lock(random->first);
            if (random->second() % 100 < options.misbehavePercent) {
                const auto drawn = random->second() % (kMisbehaviourCount - 1) + 1;
                return answerAs(static_cast<Misbehaviour>(drawn), collection,
                                static_cast<std::size_t>(index), request, response);
            }
        }
        if (index < 0) {
            response.status = 404;
            response.set_content("not found\n", "text/plain");
            return;
        }
        const auto item = static_cast<std::size_t>(index);
        const std::string modified = httpDate(servedModified(item));
        response.set_header("Last-Modified", modified);
        if (request.get_header_value("If-Modified-Since") == modified) {
            response.status = 304;
            return;
        }
        const std::string type =
            collection.name(item).ends_with(".jpg") ? "image/jpeg" : "video/mpeg";
        const auto started = std::chrono::steady_clock::now();
        response.set_content_provider(
            collection.length(item), type,
            [&collection, item, options, started, link](std::size_t offset, std::size_t length,
                                                        httplib::DataSink& sink) {
                std::vector<char> chunk(std::min<std::size_t>(length, 64 * 1024));
                collection.read(item, offset, chunk);
                if (options.linkBytesPerSecond > 0) {
                    std::chrono::steady_clock::time_point due;
                    {
                        std::lock_guard lock(link->first);
                        due = std::max(link->second, std::chrono::steady_clock::now()) +
                              std::chrono::microseconds(chunk.size() * 1'000'000 /
                                                        options.linkBytesPerSecond);
                        link->second = due;
                    }
                    std::this_thread::sleep_until(due);
                }
                if (options.bytesPerSecond > 0) {
                    // Hold back until this chunk fits under the rate since the response began.
                    const auto due =
                        started + std::chrono::microseconds((offset + chunk.size()) * 1'000'000 /
                                                            options.bytesPerSecond);
                    std::this_thread::sleep_until(due);
                }
                return sink.write(chunk.data(), chunk.size());
            });
    });
}

bool parseRate(std::string_view text, std::uint64_t& bytesPerSecond) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end == text.data()) {
        return false;
    }
    const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
    if (unit.empty()) {
        bytesPerSecond = value;
    } else if (unit == "k" || unit == "K") {
        bytesPerSecond = value * 1000;
    } else if (unit == "m" || unit == "M") {
        bytesPerSecond = value * 1000 * 1000;
    } else {
        return false;
    }
    return true;
}

}  // namespace zavoket::sample
