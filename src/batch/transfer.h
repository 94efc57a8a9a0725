#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zavoket {

enum class FetchOutcome {
    Received,        // a complete 200 response; body holds it
    HttpError,       // the request completed, but with another status (404, 500, 204, ...)
    Refused,         // the client gave up on purpose: body too large, redirect loop or scheme
    TransportError,  // the connection failed: refused, unreachable, time-out, cut short, reset
    Cancelled,       // cancel() was called during the fetch
};

struct FetchResult {
    FetchOutcome outcome = FetchOutcome::TransportError;
    long httpStatus = 0;
    std::vector<char> body;  // only filled for Received
    std::string detail;      // what went wrong, for people reading a log
};

// Receives each connection state (0..12) while a fetch is under way.
using StateListener = std::function<void(std::int16_t)>;

// Fetches one URL at a time into memory.
class Transfer {
public:
    virtual ~Transfer() = default;

    // Blocks until the transfer has ended. States are reported to onState on the calling
    // thread, before fetch returns; the caller's own events may be handled while it waits, so
    // onState and other handlers can run nested inside this call.
    [[nodiscard]] virtual FetchResult fetch(const std::string& url,
                                            const StateListener& onState) = 0;
};

}  // namespace zavoket
