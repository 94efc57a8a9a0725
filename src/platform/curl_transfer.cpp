#include "platform/curl_transfer.h"

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

}  // namespace

// The handles, the worker thread that runs each fetch in turn, and the hand-over of states and
// results to the owner's thread.
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

    FetchResult runOnWorker(CurlTask& task, const StateListener& onState);

    Waiter& waiter;
    DesktopProxy proxies;  // worker's thread only
    bool busy = false;     // owner's thread only

    // Handed between the worker and the owner's thread, under the mutex.
    std::mutex mutex;
    std::vector<ConnectionState> pending;
    bool done = false;
    bool wakePending = false;  // a wake is on its way that the owner has not answered yet
    FetchResult result;
    Worker worker;  // last: it ends before the handles go
};

FetchResult CurlTransfer::Impl::runOnWorker(CurlTask& task, const StateListener& onState) {
    {
        std::lock_guard lock(mutex);
        done = false;
        pending.clear();
    }
    worker.post([this, &task] {
        FetchResult outcome = task.run();
        std::unique_lock lock(mutex);
        result = std::move(outcome);
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
    std::lock_guard lock(mutex);
    return std::move(result);
}

CurlTransfer::CurlTransfer(Waiter& waiter, CurlTransferOptions options)
    : impl_(std::make_unique<Impl>(waiter)) {
    globalInit();
    impl_->options = options;
    impl_->multi.reset(curl_multi_init());
    impl_->easy.reset(curl_easy_init());
    if (!impl_->multi || !impl_->easy) {
        throw std::runtime_error("libcurl could not create a transfer");
    }
    impl_->configure();
}

// The worker goes first, then the easy handle; the connection cache lives in the multi handle,
// which goes last.
CurlTransfer::~CurlTransfer() = default;

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
    CurlTask task(*impl_, url, sink);
    const FetchResult result = impl_->runOnWorker(task, onState);
    impl_->busy = false;
    return result;
}

}  // namespace zavoket
