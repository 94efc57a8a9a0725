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
#include <utility>
#include <vector>

namespace zavoket {
namespace {

using State = ConnectionState;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// An error page or a redirect has no use for a larger body: past this the fetch ends, so an
// endless one cannot hold the batch.
constexpr std::uint64_t kMaxOtherBodyBytes = 1 << 20;

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("libcurl could not be initialised");
        }
    });
}

// Failures where the client gave up by its own rule, not because the connection broke.
bool isRefusal(CURLcode code) {
    return code == CURLE_TOO_MANY_REDIRECTS || code == CURLE_UNSUPPORTED_PROTOCOL ||
           code == CURLE_FILESIZE_EXCEEDED || code == CURLE_URL_MALFORMAT ||
           code == CURLE_BAD_CONTENT_ENCODING;
}

}  // namespace

// What outlives each fetch: libcurl's handles (the connection cache lives in the multi handle),
// the worker thread, and the hand-over of states and results to the owner's thread.
struct CurlTransfer::Impl {
    struct Task;

    Impl(Waiter& w, CurlTransferOptions o) : waiter(w), options(o) {}

    void configure();
    FetchResult runOnWorker(Task& task, const StateListener& onState);

    void post(State state) {
        std::unique_lock lock(mutex);
        pending.push_back(state);
        wakeOwner(lock);
    }

    // States often come in bursts: one wake serves all that arrive before the owner looks.
    void wakeOwner(std::unique_lock<std::mutex>& lock) {
        if (!std::exchange(wakePending, true)) {
            lock.unlock();
            waiter.wake();
            lock.lock();
        }
    }

    void workerLoop();

    // A connection may open or close between fetches, when the cache drops it: these two hooks
    // are the transfer's, and tell the fetch under way, if any.
    static curl_socket_t onOpenSocket(void* self, curlsocktype, curl_sockaddr* address);
    static int onCloseSocket(void* self, curl_socket_t socket);

    Waiter& waiter;
    CurlTransferOptions options;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    std::unique_ptr<CURL, EasyDeleter> easy;
    std::atomic<bool> cancelled{false};
    bool busy = false;        // owner's thread only
    Task* current = nullptr;  // worker's thread only: the fetch under way

    // Handed between the worker and the owner's thread, under the mutex.
    std::mutex mutex;
    std::condition_variable jobReady;
    Task* job = nullptr;
    bool quitting = false;
    std::vector<State> pending;
    bool done = false;
    bool wakePending = false;  // a wake is on its way that the owner has not answered yet
    std::thread worker;
};

// One fetch: its URL, its sink, the flags its libcurl callbacks set, and its result. A task is
// made afresh for every fetch and runs on the transfer's worker thread, so nothing of one fetch
// carries over into the next.
struct CurlTransfer::Impl::Task {
    enum class Stop { None, TooLarge, OtherTooLarge, SinkFailed };

    Task(Impl& t, std::string u, BodySink& s) : transfer(t), url(std::move(u)), sink(s) {
        std::replace(url.begin(), url.end(), '\\', '/');
    }

    FetchResult run();
    FetchResult outcome(CURLcode code);
    bool endOfHeaders();
    void post(State state);
    void flushHeldClose() {
        for (State state : std::exchange(heldClose, {})) {
            post(state);
        }
    }

    static int onResolverStart(void*, void*, void* self) {
        auto* task = static_cast<Task*>(self);
        task->resolveReported = true;
        task->post(State::Resolving);
        return 0;
    }
    static int onPrereq(void* self, char*, char*, int, int) {
        auto* task = static_cast<Task*>(self);
        if (std::exchange(task->socketOpened, false)) {
            task->post(State::Connected);
        }
        task->responseStarted = false;
        task->post(State::Requesting);
        return CURL_PREREQFUNC_OK;
    }
    // The debug hook is the one place libcurl tells that the request has gone out.
    static int onDebug(CURL*, curl_infotype type, char*, size_t, void* self) {
        if (type == CURLINFO_HEADER_OUT) {
            static_cast<Task*>(self)->post(State::RequestSent);
        }
        return 0;
    }
    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        auto* task = static_cast<Task*>(self);
        const std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            task->bodyWanted = task->redirecting = false;
            task->responseStarted = true;
            task->post(State::Receiving);
        } else if ((line == "\r\n" || line == "\n") && !task->endOfHeaders()) {
            return 0;
        }
        return size * count;
    }
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static int onProgress(void* self, curl_off_t, curl_off_t now, curl_off_t, curl_off_t);

    Impl& transfer;
    std::string url;  // as it goes on the wire
    BodySink& sink;
    bool resolveReported = false;
    bool socketOpened = false;
    bool responseStarted = false;
    bool bodyWanted = false;   // the response coming in is a 200: its body goes to the sink
    bool redirecting = false;  // the response coming in is a redirect
    Stop stop = Stop::None;
    std::uint64_t received = 0;
    std::vector<State> heldClose;  // close states seen while the response came in
    char errorText[CURL_ERROR_SIZE] = {};
    FetchResult result;  // handed to the owner's thread under the transfer's mutex
};

// One thread for the transfer's whole life runs each fetch in turn.
void CurlTransfer::Impl::workerLoop() {
    std::unique_lock lock(mutex);
    for (;;) {
        jobReady.wait(lock, [this] { return job != nullptr || quitting; });
        if (quitting) {
            return;
        }
        Task* task = std::exchange(job, nullptr);
        lock.unlock();
        FetchResult result = task->run();
        lock.lock();
        task->result = std::move(result);
        done = true;
        wakeOwner(lock);
    }
}

curl_socket_t CurlTransfer::Impl::onOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
    if (Task* task = static_cast<Impl*>(self)->current) {
        // An address given as digits needs no look-up, and libcurl skips the resolver
        // then; the address is known all the same.
        if (!std::exchange(task->resolveReported, false)) {
            task->post(State::Resolving);
        }
        task->post(State::Resolved);
        task->post(State::Connecting);
        task->socketOpened = true;
    }
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}
int CurlTransfer::Impl::onCloseSocket(void* self, curl_socket_t socket) {
    Task* task = static_cast<Impl*>(self)->current;
    // A connection that ends with its response is reported after the response itself.
    auto report = [task](State state) {
        if (task != nullptr && task->responseStarted) {
            task->heldClose.push_back(state);
        } else if (task != nullptr) {
            task->post(state);
        }
    };
    report(State::Closing);
    const int result = ::close(socket);
    report(State::Closed);
    return result;
}

void CurlTransfer::Impl::Task::post(State state) {
    transfer.post(state);
}

size_t CurlTransfer::Impl::Task::onBody(char* data, size_t size, size_t count, void* self) {
    auto* task = static_cast<Task*>(self);
    const size_t n = size * count;
    task->received += n;
    if (!task->bodyWanted) {
        // An error page: read and let go, up to its limit.
        task->stop = task->received > kMaxOtherBodyBytes ? Stop::OtherTooLarge : Stop::None;
    } else if (task->received > task->transfer.options.maxBodyBytes) {
        task->stop = Stop::TooLarge;
    } else if (!task->sink.append(std::span<const char>(data, n))) {
        task->stop = Stop::SinkFailed;
    }
    return task->stop == Stop::None ? n : 0;
}

int CurlTransfer::Impl::Task::onProgress(void* self, curl_off_t, curl_off_t now, curl_off_t,
                                         curl_off_t) {
    auto* task = static_cast<Task*>(self);
    // A redirect's body is read by libcurl itself and never reaches onBody.
    if (task->redirecting && static_cast<std::uint64_t>(now) > kMaxOtherBodyBytes) {
        task->stop = Stop::OtherTooLarge;
        return 1;
    }
    return task->transfer.cancelled.load() ? 1 : 0;
}

// The headers of one response of the chain are in. Each starts afresh; only a 200 has a body
// worth keeping. False ends the fetch.
bool CurlTransfer::Impl::Task::endOfHeaders() {
    CURL* e = transfer.easy.get();
    curl_off_t length = -1;
    long status = 0;
    const char* type = nullptr;
    curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(e, CURLINFO_CONTENT_TYPE, &type);
    bodyWanted = status == 200;
    redirecting = status / 100 == 3;
    received = 0;
    const auto declared = length > 0 ? static_cast<std::uint64_t>(length) : 0;
    if (declared > transfer.options.maxBodyBytes) {
        stop = Stop::TooLarge;
    } else if (!bodyWanted && declared > kMaxOtherBodyBytes) {
        stop = Stop::OtherTooLarge;
    } else if (bodyWanted && !sink.restart(type != nullptr ? type : "")) {
        stop = Stop::SinkFailed;
    }
    return stop == Stop::None;
}

FetchResult CurlTransfer::Impl::Task::run() {
    CURL* easy = transfer.easy.get();
    CURLM* multi = transfer.multi.get();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    for (CURLoption data : {CURLOPT_WRITEDATA, CURLOPT_HEADERDATA, CURLOPT_RESOLVER_START_DATA,
                            CURLOPT_PREREQDATA, CURLOPT_DEBUGDATA, CURLOPT_XFERINFODATA}) {
        curl_easy_setopt(easy, data, this);
    }
    transfer.current = this;
    CURLcode code = CURLE_ABORTED_BY_CALLBACK;
    bool ended = curl_multi_add_handle(multi, easy) != CURLM_OK;
    if (ended) {
        code = CURLE_FAILED_INIT;
    }
    while (!ended && !transfer.cancelled.load()) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                code = message->data.result;
                ended = true;
            }
        }
        if (!ended) {
            curl_multi_poll(multi, nullptr, 0, 100, nullptr);
        }
    }
    FetchResult outcomeOfFetch = outcome(code);
    transfer.current = nullptr;  // a connection removed with a cancelled fetch closes unreported
    curl_multi_remove_handle(multi, easy);
    return outcomeOfFetch;
}

FetchResult CurlTransfer::Impl::Task::outcome(CURLcode code) {
    FetchResult r;
    curl_easy_getinfo(transfer.easy.get(), CURLINFO_RESPONSE_CODE, &r.httpStatus);
    r.detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    if (transfer.cancelled.load()) {
        r.outcome = FetchOutcome::Cancelled;
    } else if (code == CURLE_OK) {
        // The sink is told the body is whole: it keeps it, or says why it cannot.
        r.outcome = r.httpStatus != 200 ? FetchOutcome::HttpError
                    : sink.complete()   ? FetchOutcome::Received
                                        : FetchOutcome::SinkFailed;
        post(State::ResponseReceived);
        flushHeldClose();
        post(State::Completed);
    } else {
        flushHeldClose();
        if (stop == Stop::OtherTooLarge) {
            r.outcome = FetchOutcome::HttpError;
            r.detail = "the answer is larger than any error page needs";
        } else if (stop == Stop::SinkFailed) {
            r.outcome = FetchOutcome::SinkFailed;
            r.detail = "the body could not be kept";
        } else if (stop == Stop::TooLarge || isRefusal(code)) {
            r.outcome = FetchOutcome::Refused;
        } else {
            post(State::Error);
            r.outcome = FetchOutcome::TransportError;
        }
    }
    return r;
}

void CurlTransfer::Impl::configure() {
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Zavoket/1.0");
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
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &Impl::onOpenSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &Impl::onCloseSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, this);
    // Each fetch's own hooks; the task points them at itself.
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Task::onBody);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Task::onHeader);
    curl_easy_setopt(e, CURLOPT_RESOLVER_START_FUNCTION, &Task::onResolverStart);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &Task::onPrereq);
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &Task::onDebug);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);  // for the debug hook
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Task::onProgress);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
}

FetchResult CurlTransfer::Impl::runOnWorker(Task& task, const StateListener& onState) {
    {
        std::lock_guard lock(mutex);
        done = false;
        pending.clear();
        job = &task;
    }
    jobReady.notify_one();
    std::vector<State> states;
    for (bool finished = false; !finished;) {
        waiter.wait();
        {
            std::lock_guard lock(mutex);
            states.swap(pending);
            finished = done;
            wakePending = false;
        }
        for (State state : std::exchange(states, {})) {
            if (!cancelled.load() && onState) {
                onState(state);
            }
        }
    }
    return task.result;
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
    if (impl_->busy) {
        FetchResult result;
        result.outcome = FetchOutcome::Refused;
        result.detail = "a fetch is already under way";
        return result;
    }
    impl_->busy = true;
    impl_->cancelled = false;
    Impl::Task task(*impl_, url, sink);
    const FetchResult result = impl_->runOnWorker(task, onState);
    impl_->busy = false;
    return result;
}

}  // namespace zavoket
