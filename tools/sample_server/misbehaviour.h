#pragma once

#include <httplib.h>

#include <atomic>
#include <cstddef>

#include "collection.h"

namespace zavoket::sample {

// What servers, web filters and captive portals on school networks send instead of the file
// asked for. Served at random by the sample server (--misbehave), to try a client against.
enum class Misbehaviour {
    None,
    NotFound,
    ServerError,
    RedirectToFile,     // a 302 to where the file is after all
    RedirectToNothing,  // a 302 to a 404
    NoContent,
    LongerLengthThenClose,  // the whole file, then the connection closes short of its length
    CutChunks,              // half the file in chunks, then the connection closes
    SlowDrip,               // the whole file in three parts, 10 ms apart
    Portal,                 // a 302 to a login page
    WebPage,                // the file's bytes, declared text/html
    EmptyOk,
    Markup,        // a 200 whose body is a web page
    TextBody,      // the same, after a blank line
    NotAJpeg,      // a picture with a GIF's start; a clip as it is, declared image/jpeg
    Gzip,          // the file gzip-encoded, though the client did not ask for it
    EndlessError,  // a 404, or a 302 to the file, whose own body never ends
    NotModified,   // a 304, whether the request asked for a newer file or not
    Changed,       // the file, changed on the server later than any copy was made
    Silence,       // half the file, then nothing for 1.2 s: longer than a short idle limit
    HalfThenReset,  // half the file, with its time to go on from, then the connection drops
    Extra,          // the file, then an unasked 408 on the same connection
    ExtraSame,      // the file, then the same answer again, unasked
};
inline constexpr std::size_t kMisbehaviourCount = 23;

[[nodiscard]] const char* misbehaviourName(Misbehaviour misbehaviour);

// Answers the request for item index of the collection as the misbehaviour has it. An endless
// body stops at 64 MiB, so that a client that never gives up still ends; endlessBytes keeps the
// most one sent.
void answerAs(Misbehaviour misbehaviour, const Collection& collection, std::size_t index,
              const httplib::Request& request, httplib::Response& response,
              std::atomic<std::size_t>* endlessBytes = nullptr);

// Answers the places misbehaviours send a client on to: /file/PATH (the file after all),
// /missing/PATH (a 404) and /login (a portal's page). False for any other path.
bool answerDetour(const Collection& collection, const httplib::Request& request,
                  httplib::Response& response);

}  // namespace zavoket::sample
