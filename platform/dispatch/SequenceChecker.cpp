// Sequence identity: the innermost serial queue of the thread's dispatch frames, or the thread.
#include "platform/dispatch/SequenceChecker.h"

#include "platform/dispatch/DispatchGuard.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSThread.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

// Threads are told apart from queues by the low bit: queue addresses are aligned.
std::uintptr_t threadToken(std::thread::id id) {
    return (static_cast<std::uintptr_t>(std::hash<std::thread::id>{}(id)) << 1) | 1u;
}

const DispatchQueue* innermostSerialQueue() {
    const auto& frames = currentDispatchFrames();
    if (frames.empty()) return nullptr;
    const DispatchQueue* queue = frames.back().queue;
    if (!queue->isSerial() || queue == DispatchQueue::mainQueue().get()) return nullptr;
    return queue;
}

}  // namespace

std::uintptr_t SequenceChecker::currentSequence() {
    if (const DispatchQueue* queue = innermostSerialQueue()) return reinterpret_cast<std::uintptr_t>(queue);
    // Main-queue work runs on the main thread: one sequence.
    return threadToken(std::this_thread::get_id());
}

const char* SequenceChecker::describeCurrentSequence(char* buffer, unsigned size) {
    if (const DispatchQueue* queue = innermostSerialQueue())
        std::snprintf(buffer, size, "serial queue \"%s\"", queue->label().c_str());
    else if (NSThread::isMainThread())
        std::snprintf(buffer, size, "the main thread");
    else
        std::snprintf(buffer, size, "a thread outside any serial queue");
    return buffer;
}

bool SequenceChecker::calledOnValidSequence() const {
    const std::uintptr_t current = currentSequence();
    std::uintptr_t expected = 0;
    if (bound_.compare_exchange_strong(expected, current, std::memory_order_acq_rel)) return true;
    return expected == current;
}

void SequenceChecker::check(const char* function) const {
    if (calledOnValidSequence()) return;
    char where[256];
    std::fprintf(stderr,
                 "%s::%s called from %s, but the object lives on another sequence: it must only be used "
                 "from the queue or thread it is bound to; aborting.\n",
                 owner_, function, describeCurrentSequence(where, sizeof where));
    std::fflush(stderr);
    std::abort();
}
