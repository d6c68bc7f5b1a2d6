// Hops onto the main thread.
#pragma once

#include <functional>

// Runs `block` on the main run loop. Without waiting it always runs on a later turn; with
// waiting it returns once the block has run, and on the main thread it runs it at once.
void performOnMainThread(std::function<void()> block, bool waitUntilDone);
