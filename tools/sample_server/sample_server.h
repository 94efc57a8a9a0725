#pragma once

#include <httplib.h>

#include <cstdint>
#include <ctime>
#include <string>

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

// When the files of the collection were last changed, as the server says in Last-Modified: the
// odd ones a second later, as files copied one after another are (a FAT stick keeps only even
// seconds). A request whose If-Modified-Since is that very text is answered 304, as nginx does
// by default.
inline constexpr std::int64_t kServedModified = 1767225600;
inline constexpr const char* kServedModifiedText = "Thu, 01 Jan 2026 00:00:00 GMT";
[[nodiscard]] inline std::int64_t servedModified(std::size_t index) {
    return kServedModified + static_cast<std::int64_t>(index % 2);
}
// As HTTP writes times: "Thu, 01 Jan 2026 00:00:00 GMT".
[[nodiscard]] std::string httpDate(std::time_t time);

// Prepares server to serve collection at /FOLDER/NAME over long-lived connections: one
// connection may carry the whole batch.
void serveCollection(httplib::Server& server, const Collection& collection, ServeOptions options);

// "5M", "800k", "1200": bytes per second.
[[nodiscard]] bool parseRate(std::string_view text, std::uint64_t& bytesPerSecond);

}  // namespace zavoket::sample
