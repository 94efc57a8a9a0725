#include "window/event_loop_waiter.h"

#include <QEventLoop>
#include <QMetaObject>

namespace zavoket {

void EventLoopWaiter::wait() {
    if (woken_.exchange(false)) {
        return;
    }
    QEventLoop loop;
    QEventLoop* outer = loop_;
    loop_ = &loop;
    // A wake that came between the check above and here has posted its quit already.
    if (!woken_.exchange(false)) {
        loop.exec();
    }
    loop_ = outer;
    woken_ = false;
}

void EventLoopWaiter::wake() {
    woken_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (loop_ != nullptr) {
                loop_->quit();
            }
        },
        Qt::QueuedConnection);
}

}  // namespace zavoket
