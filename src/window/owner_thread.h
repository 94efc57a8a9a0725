#pragma once

class QObject;

#include "batch/post.h"

namespace zavoket {

// Posts tasks into the Qt event loop of context's thread: what the transfer and the disk tell
// the batch runs there, between the window's own events. context must outlive every thread
// that posts through it.
[[nodiscard]] Post postInto(QObject& context);

}  // namespace zavoket
