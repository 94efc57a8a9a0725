#include "platform/curl_transfer.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "batch/worker.h"
#include "platform/curl_task.h"
#include "platform/desktop_proxy.h"

namespace zavoket {
namespace {

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("libcurl could not be initialised");
        }
    });
}

// Two connections at most, and two requests under way: the file taken over and one behind it.
constexpr long kConnections = 2;

}  // namespace

// The multi handle, the worker thread that drives it, and the hand-over of states and results
// to the owner's thread.
struct CurlTransfer::Impl final : CurlTaskContext {
    explicit Impl(Waiter& w) : waiter(w) {}

    void post(ConnectionState state) override {
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

    std::string proxyFor(const std::string& url) override { return proxies.proxyFor(url); }

    // On the owner's thread: runs job on the worker and hands the states it brings to onState
    // until it is done.
    void runOnWorker(const std::function<void()>& job, const StateListener& onState);
    // On the worker: the fetch taken over runs to its end. Those asked for behind it start in
    // turn, each once the request before it has gone, so that the requests reach the server in
    // order, and while fewer than two are under way: one behind that ends early (a small
    // picture) lets the next begin, and a far server's round trip is not waited out once a file.
    void drive();
    void startNext();

    Waiter& waiter;
    bool busy = false;  // owner's thread only

    // The worker's own.
    DesktopProxy proxies;
    std::unique_ptr<CurlTask> current;                    // the fetch taken over
    std::deque<std::unique_ptr<CurlTask>> behind;         // those behind it, under way or done
    std::deque<std::pair<std::string, BodySink*>> asked;  // and behind those, not started

    // Handed between the worker and the owner's thread, under the mutex.
    std::mutex mutex;
    std::vector<ConnectionState> pending;
    bool done = false;
    bool wakePending = false;  // a wake is on its way that the owner has not answered yet
    Worker worker;             // last: it ends before the tasks and the handles go
};

void CurlTransfer::Impl::runOnWorker(const std::function<void()>& job,
                                     const StateListener& onState) {
    {
        std::lock_guard lock(mutex);
        done = false;
        pending.clear();
    }
    worker.post([this, job] {
        job();
        std::unique_lock lock(mutex);
        done = true;
        wakeOwner(lock);
    });
    std::vector<ConnectionState> states;
    for (bool finished = false; !finished;) {
        waiter.wait();
        {
            std::lock_guard lock(mutex);
            states.swap(pending);
            finished = done;
            wakePending = false;
        }
        for (ConnectionState state : std::exchange(states, {})) {
            if (!cancelled.load() && onState) {
                onState(state);
            }
        }
    }
}

void CurlTransfer::Impl::startNext() {
    const auto underWay = [](const auto& task) { return !task->done(); };
    while (!asked.empty() && (behind.empty() ? current : behind.back())->asked() &&
           underWay(current) + std::ranges::count_if(behind, underWay) < kConnections) {
        behind.push_back(
            std::make_unique<CurlTask>(*this, asked.front().first, *asked.front().second));
        asked.pop_front();
        behind.back()->begin();
    }
}

void CurlTransfer::Impl::drive() {
    CURLM* handle = multi.get();
    startNext();
    while (!current->done() && !cancelled.load()) {
        int running = 0;
        if (curl_multi_perform(handle, &running) != CURLM_OK) {
            current->finish(CURLE_FAILED_INIT);
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(handle, &queued)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            const auto ended = [message](const std::unique_ptr<CurlTask>& task) {
                if (task->easy() == message->easy_handle) {
                    task->finish(message->data.result);
                }
            };
            ended(current);
            std::ranges::for_each(behind, ended);
        }
        startNext();
        if (!current->done()) {
            curl_multi_poll(handle, nullptr, 0, 100, nullptr);
        }
    }
    if (!current->done()) {
        current->finish(CURLE_ABORTED_BY_CALLBACK);  // cancelled
    }
}

CurlTransfer::CurlTransfer(Waiter& waiter, CurlTransferOptions options)
    : impl_(std::make_unique<Impl>(waiter)) {
    globalInit();
    impl_->options = options;
    impl_->multi.reset(curl_multi_init());
    if (!impl_->multi) {
        throw std::runtime_error("libcurl could not create a transfer");
    }
    curl_multi_setopt(impl_->multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, kConnections);
    curl_multi_setopt(impl_->multi.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS, kConnections);
}

// The worker goes first, then the tasks; the connection cache lives in the multi handle, which
// goes last.
CurlTransfer::~CurlTransfer() {
    impl_->worker.post([impl = impl_.get()] {
        impl->behind.clear();
        impl->current.reset();
    });
}

void CurlTransfer::cancel() {
    impl_->cancelled = true;
    curl_multi_wakeup(impl_->multi.get());
}

FetchResult CurlTransfer::fetch(const std::string& url, const StateListener& onState,
                                BodySink& sink) {
    FetchResult result;
    if (impl_->busy) {
        result.outcome = FetchOutcome::Refused;
        result.detail = "a fetch is already under way";
        return result;
    }
    impl_->busy = true;
    impl_->cancelled = false;
    Impl& t = *impl_;
    impl_->runOnWorker(
        [&t, &url, &sink, &result] {
            // The first behind the last fetch, if it is this one, is taken over where it stands.
            if (!t.behind.empty() && &t.behind.front()->sink() == &sink) {
                t.current = std::move(t.behind.front());
                t.behind.pop_front();
            } else {
                t.behind.clear();
                t.current = std::make_unique<CurlTask>(t, url, sink);
                t.current->begin();
            }
            t.current->takeOver();
            t.drive();
            result = t.current->result();
            t.current.reset();
        },
        onState);
    impl_->busy = false;
    return result;
}

void CurlTransfer::prefetch(const std::string& url, BodySink& sink) {
    impl_->worker.post([impl = impl_.get(), url, &sink] { impl->asked.emplace_back(url, &sink); });
}

void CurlTransfer::dropPrefetch() {
    impl_->runOnWorker(
        [impl = impl_.get()] {
            impl->behind.clear();
            impl->asked.clear();
        },
        {});
}

}  // namespace zavoket
