#pragma once

#include <QObject>

#include <atomic>

#include "batch/waiter.h"

class QEventLoop;

namespace zavoket {

// Waits in a nested Qt event loop, so the window goes on handling clicks, timer ticks and
// repaints while a file is in transfer. wait() is for the GUI thread; wake() for any thread.
class EventLoopWaiter final : public QObject, public Waiter {
  public:
    void wait() override;
    void wake() override;

  private:
    std::atomic<bool> woken_{false};
    QEventLoop* loop_ = nullptr;  // the innermost wait's loop, GUI thread only
};

}  // namespace zavoket
