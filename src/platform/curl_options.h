#pragma once

#include <chrono>
#include <cstdint>

namespace zavoket {

struct CurlTransferOptions {
    std::chrono::milliseconds connectTimeout{60'000};
    // A transfer that delivers no byte for this long fails; a slow one that keeps delivering
    // does not. Whole seconds: libcurl counts it so.
    std::chrono::seconds idleTimeout{60};
    std::uint64_t maxBodyBytes = std::uint64_t{1} << 30;
};

}  // namespace zavoket
