#pragma once

#include <httplib.h>

#include <cstdint>

#include "collection.h"

namespace zavoket::sample {

struct ServeOptions {
    std::uint64_t bytesPerSecond = 0;  // per response; 0 for no limit
    // A far server: each answer waits so long before its first byte (one round trip), and all
    // responses share one link of this rate (0 for none).
    unsigned latencyMs = 0;
    std::uint64_t linkBytesPerSecond = 0;
    // Answers so many requests in a hundred with a misbehaviour, drawn from the seed.
    unsigned misbehavePercent = 0;
    std::uint64_t seed = 1;
};

// When every file of the collection was last changed, as the server says in Last-Modified. A
// request whose If-Modified-Since is that very text is answered 304, as nginx does by default.
inline constexpr std::int64_t kServedModified = 1767225600;
inline constexpr const char* kServedModifiedText = "Thu, 01 Jan 2026 00:00:00 GMT";

// Prepares server to serve collection at /FOLDER/NAME over long-lived connections: one
// connection may carry the whole batch.
void serveCollection(httplib::Server& server, const Collection& collection, ServeOptions options);

// "5M", "800k", "1200": bytes per second.
[[nodiscard]] bool parseRate(std::string_view text, std::uint64_t& bytesPerSecond);

}  // namespace zavoket::sample
