#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zavoket {

// The connection states a transfer reports, by the numbers the status bar's sentences are
// listed under.
enum class ConnectionState : std::int16_t {
    None = 0,       // nothing to report
    Resolving = 1,  // looking up the host's address
    Resolved = 2,   // address found
    Connecting = 3,
    Connected = 4,
    Requesting = 5,  // sending the request
    RequestSent = 6,
    Receiving = 7,  // the response is coming in
    ResponseReceived = 8,
    Closing = 9,  // the connection is ending
    Closed = 10,
    Error = 11,      // the transfer failed
    Completed = 12,  // request completed, all data received
};

enum class FetchOutcome {
    Received,        // a complete 200 response, handed to the sink and completed there
    NotModified,     // the copy the sink named stands: the server's file, or a newer one
    HttpError,       // the request completed, but with another status (404, 500, 204, ...)
    Refused,         // the client gave up on purpose: body too large, redirect loop or scheme
    SinkFailed,      // the sink could not take the body (disk full, folder gone), or no body
                     // at all, so nothing was asked
    TransportError,  // the connection failed: refused, unreachable, time-out, cut short, reset
    Cancelled,       // dropped, or the program is ending
};

struct FetchResult {
    FetchOutcome outcome = FetchOutcome::TransportError;
    long httpStatus = 0;
    bool proxyRefused = false;      // a proxy on the way refused the request (403) or asked for a
                                    // password (407)
    bool insecureRedirect = false;  // an https request was sent on to plain http, and refused
    bool noRoom = false;            // the body is longer than the folder's free space
    std::string detail;             // what went wrong, for people reading a log
};

// What a sink says before the request goes out.
struct BodyPlan {
    bool possible = true;  // false: the body could not be kept, so nothing is asked for
    // The time (seconds since 1970) of a copy that stands already: the server is asked what it
    // holds first, and the body comes only where the copy is not its file (copyStands()).
    std::optional<std::int64_t> modifiedSince;
    std::uint64_t copyBytes = 0;  // the copy's length
    std::int64_t timeGrain = 1;   // seconds the folder's times can differ from those stamped
};

// Whether the copy a plan names stands, by what the server says of its file: it is the
// server's (the same length, the same time as far as the folder can keep one), or the
// teacher's own, newer than the server's by the folder's rounding or more. Without a length
// or a time from the server the file comes again.
[[nodiscard]] bool copyStands(const BodyPlan& plan, std::optional<std::uint64_t> servedBytes,
                              std::optional<std::int64_t> servedModified);

// Takes a response body as it arrives. Called on the transfer's own thread, one call at a time;
// the request has ended before anyone else looks at the sink again.
class BodySink {
  public:
    virtual ~BodySink() = default;
    // Before the request: a sink that can say nothing of it leaves the request as it is.
    [[nodiscard]] virtual BodyPlan plan() { return {}; }
    // The body of a 200 response begins: whatever came before is dropped. contentType is what
    // the server declared, empty when it declared nothing.
    [[nodiscard]] virtual bool restart(std::string_view contentType) = 0;
    // Whether a body of that many bytes fits where it goes; false ends the request at its
    // headers, so a body that cannot be kept is not taken.
    [[nodiscard]] virtual bool hasRoomFor(std::uint64_t /*bytes*/) { return true; }
    [[nodiscard]] virtual bool append(std::span<const char> bytes) = 0;
    // The time the server says the body was last changed, before complete(); not called when
    // the server did not say.
    virtual void setModified(std::int64_t /*seconds since 1970*/) {}
    // The body is whole; the sink makes it durable before the request is told received.
    [[nodiscard]] virtual bool complete() = 0;
};

// Tells a request apart from the others under way at the same time.
using RequestId = std::uint64_t;

// What a transfer tells of each request it was given, on the owner's thread, in the order it
// happened: its connection states, then its end, exactly once.
class TransferEvents {
  public:
    virtual ~TransferEvents() = default;
    virtual void requestState(RequestId id, ConnectionState state) = 0;
    // The attempt failed for a while (the link, or a busy server): the request is tried again
    // after delay, the attempt-th time.
    virtual void requestRetrying(RequestId /*id*/, std::chrono::milliseconds /*delay*/,
                                 int /*attempt*/) {}
    // The sink hears nothing more of this request.
    virtual void requestEnded(RequestId id, FetchResult result) = 0;
};

// Fetches URLs, several under way at a time. Every call returns at once; what happens is told
// to the events through the owner's thread. The sink and the events must outlive the request's
// end.
class Transfer {
  public:
    virtual ~Transfer() = default;

    // Requests leave in the order they are made. Only the body of a 200 response reaches the
    // sink, on the transfer's own thread.
    virtual void request(RequestId id, const std::string& url, BodySink& sink,
                         TransferEvents& events) = 0;
    // The request ends Cancelled, unless it has ended already; its end is told all the same.
    virtual void drop(RequestId id) = 0;
    // The program ends: every request ends at once. From any thread.
    virtual void cancel() = 0;
};

}  // namespace zavoket
