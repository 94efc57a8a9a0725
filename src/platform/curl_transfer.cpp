#include "platform/curl_transfer.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/curl_task.h"
#include "platform/desktop_proxy.h"

namespace zavoket {
namespace {

// Requests under way at most, each on a connection of its own over HTTP/1.1, or as streams of
// one over HTTP/2. A server that says it is busy, or refuses or shuts an extra connection,
// brings it down for the rest of the transfer's life, to one if need be.
constexpr long kConnections = 4;

struct Asked {
    RequestId id;
    std::string url;
    BodySink* sink;
    TransferEvents* events;
};

}  // namespace

// The multi handle and the thread that drives it; requests and drops reach it under the mutex.
struct CurlTransfer::Impl final : CurlTaskContext {
    explicit Impl(Post p) : posted(std::move(p)) {}

    void post(std::function<void()> told) override { posted(std::move(told)); }
    std::string proxyFor(const std::string& url) override { return proxies.proxyFor(url); }

    void run();
    void takeOrders();
    // Those asked for start in turn, each once the request before it has gone, so that the
    // requests reach the server in order, and while fewer than the connections allowed are under
    // way: one that ends early (a small picture) lets the next begin, and a far server's round trip
    // is not waited out once a file.
    bool startNext();  // whether one started
    void perform();
    void endAll();
    bool tellEnded();  // whether one was told
    void tellCancelled(const Asked& unstarted) {
        post([events = unstarted.events, id = unstarted.id] {
            events->requestEnded(id, {.outcome = FetchOutcome::Cancelled, .detail = "dropped"});
        });
    }

    void setConnections(long count) {
        connections = count;
        // All of them, so also those to any one host (the server, or its proxy).
        curl_multi_setopt(multi.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS, count);
    }
    // The attempt of task ended with code: it is tried again later, or ends.
    void ended(CurlTask& task, CURLcode code);
    void resumeDue();
    [[nodiscard]] int pollTimeout() const;

    Post posted;
    long connections = kConnections;
    std::map<CurlTask*, std::chrono::steady_clock::time_point> due;  // tasks waiting to retry

    // The thread's own.
    DesktopProxy proxies;
    std::deque<std::unique_ptr<CurlTask>> tasks;  // started, in order
    std::deque<Asked> waiting;                    // asked for, not started

    // Handed to the thread, under the mutex.
    std::mutex mutex;
    std::vector<Asked> asked;
    std::vector<RequestId> dropped;
    bool stopping = false;
    std::thread thread;  // last: it starts once the rest is in place
};

void CurlTransfer::Impl::run() {
    for (;;) {
        takeOrders();
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                break;
            }
        }
        if (cancelled.load()) {
            endAll();
        }
        perform();
        resumeDue();
        // A request asked for, one that went out, or one that ended can let the next one start
        // now rather than after the next wait; one started is driven at once, by the next pass.
        if (!tellEnded() && !startNext()) {
            curl_multi_poll(multi.get(), nullptr, 0, pollTimeout(), nullptr);
        }
    }
    tasks.clear();  // told nothing: the owner has gone
}

void CurlTransfer::Impl::takeOrders() {
    std::vector<Asked> newly;
    std::vector<RequestId> drops;
    {
        std::lock_guard lock(mutex);
        newly.swap(asked);
        drops.swap(dropped);
    }
    waiting.insert(waiting.end(), newly.begin(), newly.end());
    for (RequestId id : drops) {
        for (auto& task : tasks) {
            if (task->id() == id && !task->done()) {
                due.erase(task.get());
                task->abandon();
            }
        }
        const auto unstarted = std::ranges::find(waiting, id, &Asked::id);
        if (unstarted != waiting.end()) {
            tellCancelled(*unstarted);
            waiting.erase(unstarted);
        }
    }
}

bool CurlTransfer::Impl::startNext() {
    const auto underWay = std::ranges::count_if(tasks, [](const auto& t) { return t->underWay(); });
    bool started = false;
    for (auto going = underWay; !waiting.empty() && going < connections; ++going) {
        if (!tasks.empty() && !tasks.back()->asked()) {
            return started;
        }
        const Asked next = waiting.front();
        waiting.pop_front();
        tasks.push_back(
            std::make_unique<CurlTask>(*this, next.id, next.url, *next.sink, *next.events));
        tasks.back()->begin();
        started = true;
    }
    return started;
}

void CurlTransfer::Impl::perform() {
    if (tasks.empty()) {
        return;
    }
    int running = 0;
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
        for (auto& task : tasks) {
            task->done() ? void() : task->finish(CURLE_FAILED_INIT);
        }
        return;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        // A task may take its handle out and add it again: the message goes with it.
        CURL* const easy = message->easy_handle;
        const CURLcode code = message->data.result;
        for (auto& task : tasks) {
            if (task->easy() == easy && task->underWay()) {
                ended(*task, code);
            }
        }
    }
}

void CurlTransfer::Impl::ended(CurlTask& task, CURLcode code) {
    const bool othersOpen = std::ranges::any_of(
        tasks, [&](const auto& t) { return t.get() != &task && t->underWay(); });
    const auto retry = task.retryDelay(code, othersOpen);
    if (!retry) {
        return task.finish(code);
    }
    if (retry->busy && connections > 1) {
        // Not the file's failure: it is asked again in its turn, on fewer connections.
        setConnections(connections - 1);
        task.prepareRetry(false);
        due[&task] = std::chrono::steady_clock::now() + retry->delay;
        return;
    }
    if (task.tries() >= options.retries) {
        return task.finish(code);
    }
    task.prepareRetry(true);
    due[&task] = std::chrono::steady_clock::now() + retry->delay;
    post([&events = task.events(), id = task.id(), delay = retry->delay, attempt = task.tries()] {
        events.requestRetrying(id, delay, attempt);
    });
}

void CurlTransfer::Impl::resumeDue() {
    const auto now = std::chrono::steady_clock::now();
    for (auto it = due.begin(); it != due.end();) {
        if (it->second <= now) {
            it->first->begin();
            it = due.erase(it);
        } else {
            ++it;
        }
    }
}

// Until the next try is due: libcurl's own timers shorten the wait, and every order wakes it.
int CurlTransfer::Impl::pollTimeout() const {
    auto wait = std::chrono::milliseconds(std::chrono::minutes(1));
    const auto now = std::chrono::steady_clock::now();
    for (const auto& [task, when] : due) {
        wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(when - now));
    }
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
}

// Ended tasks tell their ends in the order they were asked for, and go.
bool CurlTransfer::Impl::tellEnded() {
    return std::erase_if(tasks, [](const std::unique_ptr<CurlTask>& task) {
               if (task->done()) {
                   task->tellEnd();
               }
               return task->done();
           }) > 0;
}

void CurlTransfer::Impl::endAll() {
    due.clear();
    for (auto& task : tasks) {
        task->done() ? void() : task->abandon();
    }
    tellEnded();
    for (const Asked& left : std::exchange(waiting, {})) {
        tellCancelled(left);
    }
}

CurlTransfer::CurlTransfer(Post post, CurlTransferOptions options)
    : impl_(std::make_unique<Impl>(std::move(post))) {
    // Once a process, before its first handle, whichever thread makes the first transfer.
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (initialised != CURLE_OK) {
        throw std::runtime_error("libcurl could not be initialised");
    }
    impl_->options = options;
    impl_->multi.reset(curl_multi_init());
    if (!impl_->multi) {
        throw std::runtime_error("libcurl could not create a transfer");
    }
    impl_->setConnections(kConnections);
    impl_->thread = std::thread([impl = impl_.get()] { impl->run(); });
}

// The thread goes first, with its tasks; the connection cache lives in the multi handle, which
// goes last. The loop looks at stopping before each pass, so nothing needs cancelling first.
CurlTransfer::~CurlTransfer() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    curl_multi_wakeup(impl_->multi.get());
    impl_->thread.join();
}

void CurlTransfer::request(RequestId id, const std::string& url, BodySink& sink,
                           TransferEvents& events) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->asked.push_back({id, url, &sink, &events});
    }
    curl_multi_wakeup(impl_->multi.get());
}

void CurlTransfer::drop(RequestId id) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->dropped.push_back(id);
    }
    curl_multi_wakeup(impl_->multi.get());
}

void CurlTransfer::cancel() {
    impl_->cancelled = true;
    curl_multi_wakeup(impl_->multi.get());
}

}  // namespace zavoket
