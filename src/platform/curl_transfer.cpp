#include "platform/curl_transfer.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace zavoket {
namespace {

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

enum State : std::int16_t {
    kResolving = 1,
    kResolved = 2,
    kConnecting = 3,
    kConnected = 4,
    kRequesting = 5,
    kRequestSent = 6,
    kReceiving = 7,
    kResponseReceived = 8,
    kClosing = 9,
    kClosed = 10,
    kError = 11,
    kCompleted = 12,
};

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("libcurl could not be initialised");
        }
    });
}

// An error page or a redirect has no use for a larger body: past this the fetch ends, so an
// endless one cannot hold the batch.
constexpr std::uint64_t kMaxOtherBodyBytes = 1 << 20;

// Failures where the client gave up by its own rule, not because the connection broke.
bool isRefusal(CURLcode code) {
    return code == CURLE_TOO_MANY_REDIRECTS || code == CURLE_UNSUPPORTED_PROTOCOL ||
           code == CURLE_FILESIZE_EXCEEDED || code == CURLE_URL_MALFORMAT ||
           code == CURLE_BAD_CONTENT_ENCODING;
}

}  // namespace

struct CurlTransfer::Impl {
    Impl(Waiter& w, CurlTransferOptions o) : waiter(w), options(o) {}

    Waiter& waiter;
    CurlTransferOptions options;
    MultiHandle multi;
    EasyHandle easy;
    std::atomic<bool> cancelled{false};
    bool busy = false;  // owner's thread only

    // Handed between the worker and the owner's thread, under the mutex.
    std::mutex mutex;
    std::condition_variable jobReady;
    const std::string* job = nullptr;
    FetchResult* jobResult = nullptr;
    bool quitting = false;
    std::vector<std::int16_t> pending;
    bool done = false;
    bool wakePending = false;  // a wake is on its way that the owner has not answered yet
    std::thread worker;

    // Worker's state for the fetch under way; set up before and read after the worker runs.
    bool inFetch = false;
    bool resolveReported = false;
    bool socketOpened = false;
    bool responseStarted = false;
    bool tooLarge = false;
    bool otherTooLarge = false;  // an error or redirect body over its own limit
    bool sinkFailed = false;
    bool bodyWanted = false;   // the response coming in is a 200: its body goes to the sink
    bool redirecting = false;  // the response coming in is a redirect, read by libcurl itself
    std::uint64_t received = 0;
    BodySink* sink = nullptr;
    std::vector<std::int16_t> heldClose;  // close states seen while the response came in
    char errorText[CURL_ERROR_SIZE] = {};

    void post(std::int16_t state) {
        if (!inFetch) {
            return;  // a connection closed between fetches or at shut-down
        }
        std::unique_lock lock(mutex);
        pending.push_back(state);
        wakeOwner(lock);
    }

    // States often come in bursts: one wake serves all that arrive before the owner looks.
    void wakeOwner(std::unique_lock<std::mutex>& lock) {
        const bool needed = !wakePending;
        wakePending = true;
        lock.unlock();
        if (needed) {
            waiter.wake();
        }
        lock.lock();
    }

    // One thread for the transfer's whole life runs each fetch in turn.
    void workerLoop() {
        std::unique_lock lock(mutex);
        for (;;) {
            jobReady.wait(lock, [this] { return job != nullptr || quitting; });
            if (quitting) {
                return;
            }
            const std::string url = *job;
            job = nullptr;
            lock.unlock();
            FetchResult result = run(url);
            lock.lock();
            *jobResult = std::move(result);
            done = true;
            wakeOwner(lock);
        }
    }

    void configure();
    FetchResult run(const std::string& url);
    FetchResult outcome(CURLcode code);

    static int onResolverStart(void*, void*, void* self) {
        auto* impl = static_cast<Impl*>(self);
        impl->resolveReported = true;
        impl->post(kResolving);
        return 0;
    }

    static curl_socket_t onOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
        auto* impl = static_cast<Impl*>(self);
        // An address given as digits needs no look-up, and libcurl skips the resolver then;
        // the address is known all the same.
        if (!impl->resolveReported) {
            impl->post(kResolving);
        }
        impl->resolveReported = false;
        impl->post(kResolved);
        impl->post(kConnecting);
        impl->socketOpened = true;
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    static int onCloseSocket(void* self, curl_socket_t socket) {
        auto* impl = static_cast<Impl*>(self);
        // A connection that ends with its response is reported after the response itself.
        auto report = [impl](std::int16_t state) {
            if (impl->responseStarted) {
                impl->heldClose.push_back(state);
            } else {
                impl->post(state);
            }
        };
        report(kClosing);
        const int result = ::close(socket);
        report(kClosed);
        return result;
    }

    static int onPrereq(void* self, char*, char*, int, int) {
        auto* impl = static_cast<Impl*>(self);
        if (impl->socketOpened) {
            impl->post(kConnected);
            impl->socketOpened = false;
        }
        impl->responseStarted = false;
        impl->post(kRequesting);
        return CURL_PREREQFUNC_OK;
    }

    static int onDebug(CURL*, curl_infotype type, char*, size_t, void* self) {
        if (type == CURLINFO_HEADER_OUT) {
            static_cast<Impl*>(self)->post(kRequestSent);
        }
        return 0;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            impl->bodyWanted = false;
            impl->redirecting = false;
            impl->responseStarted = true;
            impl->post(kReceiving);
        } else if (line == "\r\n" || line == "\n") {
            // The headers are in. Each response of a redirect chain starts afresh; only a 200
            // has a body worth keeping.
            curl_off_t length = -1;
            long status = 0;
            curl_easy_getinfo(impl->easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            curl_easy_getinfo(impl->easy.get(), CURLINFO_RESPONSE_CODE, &status);
            if (length > 0 && static_cast<std::uint64_t>(length) > impl->options.maxBodyBytes) {
                impl->tooLarge = true;
                return 0;
            }
            impl->bodyWanted = status == 200;
            impl->redirecting = status / 100 == 3;
            impl->received = 0;
            if (!impl->bodyWanted && length > 0 &&
                static_cast<std::uint64_t>(length) > kMaxOtherBodyBytes) {
                impl->otherTooLarge = true;
                return 0;
            }
            const char* type = nullptr;
            curl_easy_getinfo(impl->easy.get(), CURLINFO_CONTENT_TYPE, &type);
            if (impl->bodyWanted && !impl->sink->restart(type != nullptr ? type : "")) {
                impl->sinkFailed = true;
                return 0;
            }
        }
        return size * count;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const size_t n = size * count;
        impl->received += n;
        if (!impl->bodyWanted) {
            // An error page: read and let go, up to its limit.
            if (impl->received > kMaxOtherBodyBytes) {
                impl->otherTooLarge = true;
                return 0;
            }
            return n;
        }
        if (impl->received > impl->options.maxBodyBytes) {
            impl->tooLarge = true;
            return 0;
        }
        if (!impl->sink->append(std::span<const char>(data, n))) {
            impl->sinkFailed = true;
            return 0;
        }
        return n;
    }

    static int onProgress(void* self, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
        auto* impl = static_cast<Impl*>(self);
        // A redirect's body is read by libcurl itself and never reaches onBody.
        if (impl->redirecting && static_cast<std::uint64_t>(now) > kMaxOtherBodyBytes) {
            impl->otherTooLarge = true;
            return 1;
        }
        return impl->cancelled.load() ? 1 : 0;
    }
};

void CurlTransfer::Impl::configure() {
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Zavoket/1.0");
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(options.connectTimeout.count()));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.idleTimeout.count()));
    // Asks for the file as it is; a server that encodes it all the same has it decoded here,
    // and one whose encoding cannot be decoded fails the fetch, so nothing encoded is saved.
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "identity");
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBodyBytes));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_RESOLVER_START_FUNCTION, &Impl::onResolverStart);
    curl_easy_setopt(e, CURLOPT_RESOLVER_START_DATA, this);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &Impl::onOpenSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &Impl::onCloseSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, this);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &Impl::onPrereq);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, this);
    // The debug hook is the one place libcurl tells that the request has gone out.
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &Impl::onDebug);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Impl::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
}

FetchResult CurlTransfer::Impl::run(const std::string& url) {
    std::string wireUrl = url;
    std::replace(wireUrl.begin(), wireUrl.end(), '\\', '/');
    curl_easy_setopt(easy.get(), CURLOPT_URL, wireUrl.c_str());
    errorText[0] = '\0';

    if (curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK) {
        FetchResult result;
        result.detail = "the transfer could not be started";
        return result;
    }
    CURLcode code = CURLE_OK;
    bool ended = false;
    while (!ended && !cancelled.load()) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE) {
                code = message->data.result;
                ended = true;
            }
        }
        if (!ended) {
            curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr);
        }
    }
    if (!ended) {
        code = CURLE_ABORTED_BY_CALLBACK;
    }
    FetchResult result = outcome(code);
    inFetch = false;  // a connection removed with a cancelled transfer closes unreported
    curl_multi_remove_handle(multi.get(), easy.get());
    return result;
}

FetchResult CurlTransfer::Impl::outcome(CURLcode code) {
    FetchResult result;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &result.httpStatus);
    result.detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    auto flushHeld = [this] {
        for (std::int16_t state : heldClose) {
            post(state);
        }
        heldClose.clear();
    };

    if (cancelled.load()) {
        result.outcome = FetchOutcome::Cancelled;
    } else if (code == CURLE_OK) {
        if (result.httpStatus != 200) {
            result.outcome = FetchOutcome::HttpError;
        } else {
            // Made durable here, on this thread, so the window never waits for the disk.
            result.outcome = sink->complete() ? FetchOutcome::Received : FetchOutcome::SinkFailed;
        }
        post(kResponseReceived);
        flushHeld();
        post(kCompleted);
    } else if (otherTooLarge) {
        flushHeld();
        result.outcome = FetchOutcome::HttpError;
        result.detail = "the server's answer is larger than any error page needs";
    } else if (sinkFailed) {
        flushHeld();
        result.outcome = FetchOutcome::SinkFailed;
        result.detail = "the file could not be written";
    } else if (tooLarge || isRefusal(code)) {
        flushHeld();
        result.outcome = FetchOutcome::Refused;
        if (tooLarge) {
            result.detail = "the body is larger than the limit";
        }
    } else {
        flushHeld();
        post(kError);
        result.outcome = FetchOutcome::TransportError;
    }
    return result;
}

CurlTransfer::CurlTransfer(Waiter& waiter, CurlTransferOptions options)
    : impl_(std::make_unique<Impl>(waiter, options)) {
    globalInit();
    impl_->multi.reset(curl_multi_init());
    impl_->easy.reset(curl_easy_init());
    if (!impl_->multi || !impl_->easy) {
        throw std::runtime_error("libcurl could not create a transfer");
    }
    impl_->configure();
    impl_->worker = std::thread([impl = impl_.get()] { impl->workerLoop(); });
}

CurlTransfer::~CurlTransfer() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->quitting = true;
    }
    impl_->jobReady.notify_one();
    impl_->worker.join();
    // The connection cache lives in the multi handle: it goes last.
    impl_->easy.reset();
    impl_->multi.reset();
}

void CurlTransfer::cancel() {
    impl_->cancelled = true;
    curl_multi_wakeup(impl_->multi.get());
}

FetchResult CurlTransfer::fetch(const std::string& url, const StateListener& onState,
                                BodySink& sink) {
    Impl& impl = *impl_;
    if (impl.busy) {
        FetchResult result;
        result.outcome = FetchOutcome::Refused;
        result.detail = "a fetch is already under way";
        return result;
    }
    impl.busy = true;
    impl.cancelled = false;
    impl.inFetch = true;
    impl.resolveReported = false;
    impl.socketOpened = false;
    impl.responseStarted = false;
    impl.tooLarge = false;
    impl.otherTooLarge = false;
    impl.sinkFailed = false;
    impl.bodyWanted = false;
    impl.redirecting = false;
    impl.sink = &sink;
    impl.heldClose.clear();

    FetchResult result;
    {
        std::lock_guard lock(impl.mutex);
        impl.done = false;
        impl.pending.clear();
        impl.job = &url;
        impl.jobResult = &result;
    }
    impl.jobReady.notify_one();

    std::vector<std::int16_t> states;
    for (bool done = false; !done;) {
        impl.waiter.wait();
        {
            std::lock_guard lock(impl.mutex);
            states.swap(impl.pending);
            done = impl.done;
            impl.wakePending = false;
        }
        for (std::int16_t state : states) {
            if (!impl.cancelled.load() && onState) {
                onState(state);
            }
        }
        states.clear();
    }
    impl.busy = false;
    return result;
}

}  // namespace zavoket
