#pragma once

#include <httplib.h>

#include <cstdint>

#include "collection.h"

namespace zavoket::sample {

struct ServeOptions {
    std::uint64_t bytesPerSecond = 0;  // per response; 0 for no limit
    // Answers so many requests in a hundred with a misbehaviour, drawn from the seed.
    unsigned misbehavePercent = 0;
    std::uint64_t seed = 1;
};

// Prepares server to serve collection at /FOLDER/NAME over long-lived connections: one
// connection may carry the whole batch.
void serveCollection(httplib::Server& server, const Collection& collection, ServeOptions options);

// "5M", "800k", "1200": bytes per second.
[[nodiscard]] bool parseRate(std::string_view text, std::uint64_t& bytesPerSecond);

}  // namespace zavoket::sample
