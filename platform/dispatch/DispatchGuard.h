// Runs queued work so that a C++ exception escaping it is reported instead of ending the process,
// and keeps the calling thread's stack of queues it is running on.
#pragma once

#include <functional>
#include <string>
#include <vector>

class DispatchQueue;

// Runs `block`; an exception escaping it goes to the exception handler with `where`.
void invokeGuarded(const std::string& where, const std::function<void()>& block);

using DispatchExceptionHandler = std::function<void(const std::string& where, const std::string& what)>;
void setDispatchExceptionHandler(DispatchExceptionHandler handler);

// One queue the thread is running on: outermost first, so a serial queue targeting a global
// queue shows as [global, serial].
struct DispatchFrame {
    DispatchQueue* queue;
    bool barrier;
};

const std::vector<DispatchFrame>& currentDispatchFrames();

class DispatchFrameScope {
public:
    DispatchFrameScope(DispatchQueue* queue, bool barrier);
    ~DispatchFrameScope();
    DispatchFrameScope(const DispatchFrameScope&) = delete;
    DispatchFrameScope& operator=(const DispatchFrameScope&) = delete;
};
