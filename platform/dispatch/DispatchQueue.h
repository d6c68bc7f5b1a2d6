// Dispatch queues: serial and concurrent, with labels, target queues and queue-specific values;
// global queues of each priority over one thread pool, the main queue on the main run loop, and
// queues apart over a pool of their own.
#pragma once

#include "platform/foundation/Executor.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

class DispatchBlock;
class DispatchCancellation;

class DispatchQueue : public NSObject, public Executor {
public:
    enum class Kind { Serial, Concurrent };
    enum class Priority { High = 0, Default = 1, Low = 2, Background = 3 };

    // A new queue; without a target it runs on the global queue of default priority.
    static std::shared_ptr<DispatchQueue> create(const std::string& label, Kind kind = Kind::Serial,
                                                 std::shared_ptr<DispatchQueue> target = nullptr);
    static std::shared_ptr<DispatchQueue> mainQueue();
    static std::shared_ptr<DispatchQueue> globalQueue(Priority priority = Priority::Default);
    // A serial queue whose blocks run apart: on threads of their own, outside the pool and its
    // accounting, so that a settle of the manual clock does not wait for them (the screen is drawn,
    // and answers, while they run), while DispatchQuiescence::waitUntilIdle and outstandingWork,
    // and so a process's end and the simulator's idle, do. For work of seconds that its caller
    // shows as under way, handed a cancellation to poll (async below).
    static std::shared_ptr<DispatchQueue> createApart(const std::string& label);

    // The innermost queue the calling thread is running work of; empty when none.
    static std::shared_ptr<DispatchQueue> currentQueue();
    // Its label, "" when the thread runs no queue's work.
    static std::string currentQueueLabel();
    // The value for `key` on the current queue or, failing that, along its target chain.
    static Value getSpecific(const void* key);

    // Where an exception escaping a block is reported (queue description and what()); by
    // default a line on standard error. The process always continues.
    static void setExceptionHandler(std::function<void(const std::string& where, const std::string& what)> handler);

    const std::string& label() const { return label_; }
    bool isSerial() const { return kind_ == Kind::Serial; }
    std::shared_ptr<DispatchQueue> targetQueue() const;
    // Only for queues made by create(); set it before submitting work.
    void setTargetQueue(std::shared_ptr<DispatchQueue> target);

    // Queue-specific values; a null value removes the key.
    void setSpecific(const void* key, Value value);
    Value specific(const void* key) const;

    void async(std::function<void()> block);
    void async(const std::shared_ptr<DispatchBlock>& block);
    // `block`, which polls `cancellation` to stop early: whoever asked cancels it once the result
    // is no longer wanted, and so does the process's end until the block has run
    // (cancelWorkInProgress).
    void async(std::function<void()> block, std::shared_ptr<DispatchCancellation> cancellation);
    // On a queue apart: runs `block` there, as async with `cancellation` does, and returns once it
    // has ended, the calling thread blocked meanwhile (DispatchQuiescence::BlockedScope). So neither
    // the block nor the caller keeps a settle of the manual clock waiting, while whatever is queued
    // behind the caller waits for it: the caller's work of seconds, done apart while the screen
    // answers. An exception escaping the block comes out here.
    void syncApart(const std::function<void()>& block, std::shared_ptr<DispatchCancellation> cancellation);
    // As the process ends, before it waits for its work to settle: cancels the cancellation of
    // every block handed over with one that has not yet ended, so that such work stops soon.
    static void cancelWorkInProgress();
    // On a concurrent queue made by create(): runs alone, after everything before it and
    // before everything after it. Elsewhere the same as async.
    void asyncBarrier(std::function<void()> block);
    // Runs `block` on the calling thread as work of this queue and returns when it is done.
    // A sync onto a serial queue the caller is already running on (directly or through a
    // target chain) would deadlock: it aborts with a message naming the queue.
    void sync(const std::function<void()>& block);
    void syncBarrier(const std::function<void()>& block);
    // Submits `block` after `seconds` of clock time.
    void after(double seconds, std::function<void()> block);
    void after(double seconds, const std::shared_ptr<DispatchBlock>& block);
    // Submits `block` when the clock reaches `deadline` (seconds since 1970).
    void afterDeadline(double deadline, std::function<void()> block);

    // Nothing new starts while suspended; calls nest. Global queues and the main queue ignore them.
    void suspend();
    void resume();

    void post(std::function<void()> block) override { async(std::move(block)); }
    std::string description() const override;

    ~DispatchQueue() override;

private:
    friend class DispatchQuiescence;
    enum class Root { None, Pool, Main, Apart };
    struct Item {
        std::function<void()> block;
        bool barrier;
    };

    DispatchQueue(std::string label, Kind kind, Root root, int priority);
    // Owns a queue just made and lists it among those alive.
    static std::shared_ptr<DispatchQueue> listed(DispatchQueue* made);
    // The root of the queues apart, over the pool apart.
    static std::shared_ptr<DispatchQueue> apartRoot();
    void enqueue(Item item);
    // Submits `block` when the clock reaches `deadline`; the clock's timer, 0 when submitted at once.
    std::uint64_t submitAt(double deadline, std::function<void()> block);
    // A block a caller hands to a global queue itself, counted until it has run.
    void enqueueDirect(Item item);
    void scheduleDrain();
    static void runOnRoot(void* queue, const std::function<void()>& block);
    static void runDirectOnRoot(void* queue, const std::function<void()>& block);
    // "" when the queue has no work queued or running, else what it has.
    std::string outstanding() const;
    // Who made each block running on the queue now (the class, or the function, whose code
    // made it), as far as that is known: for saying who holds work that does not end.
    std::vector<std::string> runningOwners() const;
    // Every queue alive but those going away.
    static std::vector<std::shared_ptr<DispatchQueue>> alive();
    void drain();
    void pumpLocked(std::deque<Item>& toSubmit) REQUIRES(mutex_);
    void submitConcurrent(std::deque<Item>& toSubmit);
    void concurrentFinished(bool barrier, const std::type_info* made);
    void runSync(const std::function<void()>& block, bool barrier);
    // Hands `block` to the queue and waits, blocked, until it has run.
    void handOverAndWait(const std::function<void()>& block, std::shared_ptr<DispatchCancellation> cancellation);
    void checkNotDeadlocking(bool barrier) const;

    const std::string label_;
    const std::string where_;
    const Kind kind_;
    const Root root_;
    const int priority_;

    mutable Mutex mutex_;
    std::shared_ptr<DispatchQueue> target_ GUARDED_BY(mutex_);
    std::map<const void*, Value> specifics_ GUARDED_BY(mutex_);
    std::deque<Item> items_ GUARDED_BY(mutex_);
    std::atomic<int> suspendCount_{0};  // written under mutex_, read by a running drain without it
    bool drainScheduled_ GUARDED_BY(mutex_) = false;  // serial: a drain is submitted or running
    int running_ GUARDED_BY(mutex_) = 0;  // concurrent: blocks running
    bool barrierRunning_ GUARDED_BY(mutex_) = false;  // concurrent
    std::atomic<std::size_t> directOutstanding_{0};  // global queues: blocks handed to them not yet run
    // The type of each block running (its closure's type names where it was made).
    std::atomic<const std::type_info*> serialRunning_{nullptr};                 // serial
    std::vector<const std::type_info*> concurrentRunning_ GUARDED_BY(mutex_);  // concurrent
};
