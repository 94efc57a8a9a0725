#include "misbehaviour.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "sample_server.h"

namespace zavoket::sample {
namespace {

using namespace std::chrono_literals;

std::string gzipped(const std::string& bytes) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, bytes.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Sends bytes in parts, pause apart; the connection drops once cut bytes are out. declared:
// the length announced; none (chunked) when 0.
void sendInParts(httplib::Response& response, std::string bytes, std::size_t declared,
                 std::size_t cut, std::chrono::milliseconds pause, std::size_t part) {
    auto provide = [=](std::size_t offset, httplib::DataSink& sink) {
        std::this_thread::sleep_for(offset > 0 ? pause : 0ms);
        const std::size_t end = std::min({bytes.size(), cut, offset + part});
        if (offset < end) {
            return sink.write(bytes.data() + offset, end - offset);
        }
        // All sent: the last chunk where chunked and whole; else the connection drops.
        return declared == 0 && offset == bytes.size() && (sink.done(), true);
    };
    if (declared == 0) {
        response.set_chunked_content_provider("video/mpeg", provide);
    } else {
        response.set_content_provider(
            declared, "video/mpeg",
            [provide](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                return provide(offset, sink);
            });
    }
}

}  // namespace

// As HTTP writes times: "Thu, 01 Jan 2026 00:00:00 GMT".
std::string httpDate(std::time_t time) {
    std::tm parts{};
    ::gmtime_r(&time, &parts);
    char text[64];
    std::strftime(text, sizeof(text), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

const char* misbehaviourName(Misbehaviour misbehaviour) {
    static const char* const kNames[kMisbehaviourCount] = {"200",
                                                           "404",
                                                           "500",
                                                           "302 to the file",
                                                           "302 to a 404",
                                                           "204",
                                                           "Content-Length too long",
                                                           "chunks cut",
                                                           "slow drip",
                                                           "302 to a portal's page",
                                                           "200 text/html",
                                                           "empty 200",
                                                           "200 starting with <",
                                                           "200 starting with a blank",
                                                           ".jpg without its marker",
                                                           "unasked gzip",
                                                           "endless 404 or 302",
                                                           "304",
                                                           "changed on the server",
                                                           "silence",
                                                           "half, then reset",
                                                           "an unasked 408 after it",
                                                           "the same answer twice"};
    return kNames[static_cast<std::size_t>(misbehaviour)];
}

void answerAs(Misbehaviour misbehaviour, const Collection& collection, std::size_t index,
              const httplib::Request& request, httplib::Response& response,
              std::atomic<std::size_t>* endlessBytes) {
    const auto item = collection.bytes(index);
    const std::string body(item.begin(), item.end());
    const bool picture = collection.name(index).ends_with(".jpg");
    const std::string page = "<!DOCTYPE html><title>Blocked</title>";
    using M = Misbehaviour;
    switch (misbehaviour) {
        case M::None:
            return response.set_content(body, picture ? "image/jpeg" : "video/mpeg");
        case M::NotFound:
        case M::ServerError:
            response.status = misbehaviour == M::NotFound ? 404 : 500;
            return response.set_content("not here", "text/plain");
        case M::RedirectToFile:
            return response.set_redirect("/file" + request.path);
        case M::RedirectToNothing:
            return response.set_redirect("/missing" + request.path);
        case M::NoContent:
            response.status = 204;
            return;
        case M::LongerLengthThenClose:
            return sendInParts(response, body, body.size() + 100, body.size(), 0ms, body.size());
        case M::CutChunks:
            return sendInParts(response, body, 0, body.size() / 2, 0ms, body.size());
        case M::SlowDrip:
            return sendInParts(response, body, body.size(), body.size(), 10ms, body.size() / 3 + 1);
        case M::Silence:
            return sendInParts(response, body, body.size(), body.size() / 2, 1200ms,
                               body.size() / 2);
        case M::Portal:
            return response.set_redirect("/login?from=" + request.path);
        case M::WebPage:
            return response.set_content(body, "text/html; charset=UTF-8");
        case M::EmptyOk:
            return response.set_content("", "video/mpeg");
        case M::Markup:
        case M::TextBody:
            return response.set_content((misbehaviour == M::Markup ? "" : "\r\n") + page,
                                        "video/mpeg");
        case M::NotAJpeg:
            return response.set_content(picture ? "GIF89a" + body : body, "image/jpeg");
        case M::Gzip:
            response.set_header("Content-Encoding", "gzip");
            return response.set_content(gzipped(body), "video/mpeg");
        case M::NotModified:
            response.status = 304;
            return;
        case M::Changed:
            response.set_header("Last-Modified", httpDate(std::time(nullptr) - 60));
            return response.set_content(body, picture ? "image/jpeg" : "video/mpeg");
        case M::HalfThenReset:
            response.set_header("Last-Modified", kServedModifiedText);
            return sendInParts(response, body, body.size(), body.size() / 2, 0ms, body.size());
        case M::Extra:
        case M::ExtraSame: {
            // Written past the body's length, a moment later: the client finds it on the
            // connection as the answer to whatever it asked next there.
            const std::string type = picture ? "image/jpeg" : "video/mpeg";
            const std::string extra =
                misbehaviour == M::Extra
                    ? "HTTP/1.1 408 Request Timeout\r\nContent-Type: text/plain\r\n"
                      "Content-Length: 7\r\n\r\ntimeout"
                    : "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body;
            return response.set_content_provider(
                body.size(), type, [=](std::size_t, std::size_t, httplib::DataSink& sink) {
                    const bool sent = sink.write(body.data(), body.size());
                    std::this_thread::sleep_for(50ms);
                    return sent && sink.write(extra.data(), extra.size());
                });
        }
        case M::EndlessError:
            response.status = index % 2 == 0 ? 404 : 302;
            response.set_header("Location", "/file" + request.path);
            response.set_chunked_content_provider(
                "text/html", [endlessBytes](std::size_t offset, httplib::DataSink& sink) {
                    const std::string block(1 << 16, 'x');
                    if (endlessBytes != nullptr && *endlessBytes < offset) {
                        *endlessBytes = offset;
                    }
                    return offset < (std::size_t{64} << 20) &&
                           sink.write(block.data(), block.size());
                });
            return;
    }
}

bool answerDetour(const Collection& collection, const httplib::Request& request,
                  httplib::Response& response) {
    const long index =
        request.path.starts_with("/file/") ? collection.find(request.path.substr(5)) : -1;
    if (request.path == "/login") {
        response.set_content("<html>Please log in.</html>", "text/html");
    } else if (request.path.starts_with("/missing/")) {
        response.status = 404;
    } else if (index >= 0) {
        answerAs(Misbehaviour::None, collection, static_cast<std::size_t>(index), request,
                 response);
    } else {
        return false;
    }
    return true;
}

}  // namespace zavoket::sample
