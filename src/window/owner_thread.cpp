#include "window/owner_thread.h"

#include <QMetaObject>
#include <QObject>

namespace zavoket {

Post postInto(QObject& context) {
    return [context = &context](std::function<void()> task) {
        QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
    };
}

}  // namespace zavoket
