#pragma once

#include <functional>

namespace zavoket {

// Runs a task on the owner's thread, later, in the order posted: how the transfer's and the
// disk's threads tell the batch what happened. Callable from any thread. A window posts into
// its event loop; a test into a queue it drains.
using Post = std::function<void(std::function<void()>)>;

}  // namespace zavoket
