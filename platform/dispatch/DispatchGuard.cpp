// Exception reporting for queued work and the per-thread stack of running queues.
#include "platform/dispatch/DispatchGuard.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/ThreadAnnotations.h"
#include <cstdio>
#include <exception>

namespace {

Mutex handlerMutex;
DispatchExceptionHandler& handlerSlot() REQUIRES(handlerMutex) {
    static DispatchExceptionHandler* handler = new DispatchExceptionHandler;
    return *handler;
}

thread_local std::vector<DispatchFrame> t_frames;

void report(const std::string& where, const std::string& what) {
    DispatchExceptionHandler handler;
    {
        MutexLock lock(handlerMutex);
        handler = handlerSlot();
    }
    if (handler) {
        try {
            handler(where, what);
            return;
        } catch (...) {
            // A failing handler must not take the process down either; fall back to the diagnostics.
        }
    }
    Diagnostics::notef("Uncaught exception in work on %s: %s", where.c_str(), what.c_str());
}

}  // namespace

void invokeGuarded(const std::string& where, const std::function<void()>& block) {
    try {
        block();
    } catch (const std::exception& e) {
        report(where, e.what());
    } catch (...) {
        report(where, "an exception of unknown type");
    }
}

void setDispatchExceptionHandler(DispatchExceptionHandler handler) {
    MutexLock lock(handlerMutex);
    handlerSlot() = std::move(handler);
}

const std::vector<DispatchFrame>& currentDispatchFrames() { return t_frames; }

DispatchFrameScope::DispatchFrameScope(DispatchQueue* queue, bool barrier) { t_frames.push_back({queue, barrier}); }

DispatchFrameScope::~DispatchFrameScope() { t_frames.pop_back(); }
