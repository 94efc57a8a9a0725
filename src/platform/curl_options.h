#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace zavoket {

struct CurlTransferOptions {
    std::chrono::milliseconds connectTimeout{60'000};
    // A transfer that delivers no byte for this long fails; a slow one that keeps delivering
    // does not. Whole seconds: libcurl counts it so.
    std::chrono::seconds idleTimeout{60};
    std::uint64_t maxBodyBytes = std::uint64_t{1} << 30;
    // A file whose link failed for a while is tried again this many times, after the first
    // pause and then after twice the pause before, unless the server says how long.
    int retries = 3;
    std::chrono::milliseconds firstPause{1000};
    // The authority that signs the server's certificate, where it is a site's own: a file of
    // certificates trusted instead of the system's. Empty: the system's.
    std::string authority = {};
};

}  // namespace zavoket
