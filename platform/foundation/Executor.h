// Somewhere to hand a block to: the dispatch layer's queues and operation queues implement it,
// so foundation code (notification delivery, timers) can post without knowing them.
#pragma once

#include <functional>

class Executor {
public:
    virtual ~Executor() = default;
    // Runs `block` later, never inline inside this call.
    virtual void post(std::function<void()> block) = 0;
};
