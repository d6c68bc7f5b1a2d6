// Queues as chains ending in the thread pool or the main run loop: a serial queue submits one
// drain at a time to its target, a concurrent queue submits each block (a barrier alone).
#include "platform/dispatch/DispatchQueue.h"

#include "platform/dispatch/DispatchBlock.h"
#include "platform/dispatch/DispatchCancellation.h"
#include "platform/dispatch/DispatchGuard.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/dispatch/DispatchThreadPool.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/TypeName.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>
#include <vector>

namespace {

// Handshake of a sync: the queue reaches the caller's turn, the caller runs, the queue goes on.
struct SyncState {
    Mutex mutex;
    std::condition_variable cv;
    bool started GUARDED_BY(mutex) = false;
    bool finished GUARDED_BY(mutex) = false;
    std::exception_ptr error;  // written by the block's runner before `finished`, read after it

    void set(bool SyncState::*flag) EXCLUDES(mutex) {
        {
            MutexLock lock(mutex);
            this->*flag = true;
        }
        cv.notify_all();
        DispatchQuiescence::changed();
    }
    bool get(bool SyncState::*flag) EXCLUDES(mutex) {
        MutexLock lock(mutex);
        return this->*flag;
    }
    void wait(bool SyncState::*flag) EXCLUDES(mutex) {
        MutexLock lock(mutex);
        while (!(this->*flag)) cv.wait(lock.unique());
    }
};

// A serial queue hands back to its target after this many batches of at most this many
// blocks, so one busy queue cannot hold a pool thread forever while others wait.
constexpr std::size_t drainBatchLimit = 256;
constexpr int drainRounds = 16;

// Every queue alive, so that the work still outstanding can be told queue by queue.
struct LiveQueues {
    Mutex mutex;
    std::set<DispatchQueue*> queues GUARDED_BY(mutex);
};

LiveQueues& liveQueues() {
    static LiveQueues* live = new LiveQueues;  // queues outlive static destruction
    return *live;
}

// Who made a block, from its closure's type: a lambda's type is named after the function that
// made it ("APMScheduler::schedule(...)::$_0", "...::{lambda()#1}"), whose class is the owner (a
// free function is its own); another callable is named by its type. Empty for the queues' own
// wrappers, which name nobody.
std::string ownerOf(const std::type_info& type) {
    std::string name = readableTypeName(type.name());
    for (std::string anonymous = "(anonymous namespace)::";;) {
        const auto at = name.find(anonymous);
        if (at == std::string::npos) break;
        name.erase(at, anonymous.size());
    }
    // The function's qualified name ends at its parameters; a return type before it (templates)
    // ends at a blank outside template arguments.
    int depth = 0;
    std::size_t start = 0;
    std::size_t end = std::string::npos;
    for (std::size_t i = 0; i < name.size() && end == std::string::npos; ++i) {
        const char c = name[i];
        if (c == '<') ++depth;
        else if (c == '>') --depth;
        else if (c == ' ' && depth == 0) start = i + 1;
        else if (c == '(' && depth == 0) end = i;
    }
    std::string owner = end == std::string::npos ? name : name.substr(start, end - start);
    if (owner.empty()) return owner;  // a function pointer: nobody to name
    if (end != std::string::npos) {
        // Foo::bar: the class Foo; bar alone: the function.
        depth = 0;
        std::size_t last = std::string::npos;
        for (std::size_t i = 0; i + 1 < owner.size(); ++i) {
            if (owner[i] == '<') ++depth;
            else if (owner[i] == '>') --depth;
            else if (depth == 0 && owner[i] == ':' && owner[i + 1] == ':') last = i;
        }
        if (last != std::string::npos) owner.erase(last);
    }
    // A closure made outside any function ("$_0", "{lambda()#1}") names nobody either.
    if (owner == "DispatchQueue" || owner.front() == '$' || owner.front() == '{') return std::string();
    return owner;
}

// The cancellations handed over with blocks that have not yet ended, for the process's end to
// cancel; one handed with several blocks is here once for each.
struct WorkInProgress {
    Mutex mutex;
    std::vector<std::shared_ptr<DispatchCancellation>> cancellations GUARDED_BY(mutex);
};

WorkInProgress& workInProgress() {
    static WorkInProgress* work = new WorkInProgress;  // blocks may end during static destruction
    return *work;
}

[[noreturn]] void abortDeadlock(const std::string& label) {
    std::fprintf(stderr,
                 "dispatch: sync onto queue \"%s\" from work already running on it (directly or through its "
                 "target queues) would deadlock forever; aborting.\n",
                 label.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace

DispatchQueue::DispatchQueue(std::string label, Kind kind, Root root, int priority)
    : label_(std::move(label)),
      where_("queue \"" + label_ + "\""),
      kind_(kind),
      root_(root),
      priority_(priority) {
    DispatchQuiescence::install();
}

std::shared_ptr<DispatchQueue> DispatchQueue::listed(DispatchQueue* made) {
    // Listed once its owner is set, which alive() reads.
    std::shared_ptr<DispatchQueue> queue(made);
    LiveQueues& live = liveQueues();
    MutexLock lock(live.mutex);
    live.queues.insert(made);
    return queue;
}

DispatchQueue::~DispatchQueue() {
    LiveQueues& live = liveQueues();
    MutexLock lock(live.mutex);
    live.queues.erase(this);
}

std::shared_ptr<DispatchQueue> DispatchQueue::create(const std::string& label, Kind kind,
                                                     std::shared_ptr<DispatchQueue> target) {
    auto queue = listed(new DispatchQueue(label, kind, Root::None, 0));
    if (target) queue->setTargetQueue(std::move(target));
    return queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::mainQueue() {
    static std::shared_ptr<DispatchQueue>* queue =
        new std::shared_ptr<DispatchQueue>(listed(new DispatchQueue("main-thread", Kind::Serial, Root::Main, 0)));
    return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::globalQueue(Priority priority) {
    static std::shared_ptr<DispatchQueue>* queues = [] {
        const char* names[] = {"global.high", "global.default", "global.low", "global.background"};
        auto* all = new std::shared_ptr<DispatchQueue>[DispatchThreadPool::priorityCount];
        for (int i = 0; i < DispatchThreadPool::priorityCount; ++i) {
            all[i] = listed(new DispatchQueue(names[i], Kind::Concurrent, Root::Pool, i));
        }
        return all;
    }();
    const int index = static_cast<int>(priority);
    return queues[index >= 0 && index < DispatchThreadPool::priorityCount ? index : 1];
}

std::shared_ptr<DispatchQueue> DispatchQueue::apartRoot() {
    static std::shared_ptr<DispatchQueue>* queue = new std::shared_ptr<DispatchQueue>(
        listed(new DispatchQueue("global.apart", Kind::Concurrent, Root::Apart, 0)));
    return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::createApart(const std::string& label) {
    return create(label, Kind::Serial, apartRoot());
}

std::shared_ptr<DispatchQueue> DispatchQueue::currentQueue() {
    const auto& frames = currentDispatchFrames();
    if (frames.empty()) return nullptr;
    return frames.back().queue->self<DispatchQueue>();
}

std::string DispatchQueue::currentQueueLabel() {
    const auto& frames = currentDispatchFrames();
    return frames.empty() ? std::string() : frames.back().queue->label();
}

Value DispatchQueue::getSpecific(const void* key) {
    const auto& frames = currentDispatchFrames();
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        Value value = it->queue->specific(key);
        if (!value.isNull()) return value;
    }
    return Value();
}

void DispatchQueue::setExceptionHandler(std::function<void(const std::string&, const std::string&)> handler) {
    setDispatchExceptionHandler(std::move(handler));
}

std::shared_ptr<DispatchQueue> DispatchQueue::targetQueue() const {
    if (root_ != Root::None) return nullptr;
    {
        MutexLock lock(mutex_);
        if (target_) return target_;
    }
    return globalQueue(Priority::Default);
}

void DispatchQueue::setTargetQueue(std::shared_ptr<DispatchQueue> target) {
    if (root_ != Root::None) return;
    for (auto q = target; q; q = q->targetQueue()) {
        if (q.get() == this) {
            Diagnostics::notef("dispatch: target queue of \"%s\" left unchanged: it would form a cycle.",
                               label_.c_str());
            return;
        }
    }
    MutexLock lock(mutex_);
    target_ = std::move(target);
}

void DispatchQueue::setSpecific(const void* key, Value value) {
    MutexLock lock(mutex_);
    if (value.isNull()) specifics_.erase(key);
    else specifics_[key] = std::move(value);
}

Value DispatchQueue::specific(const void* key) const {
    MutexLock lock(mutex_);
    auto it = specifics_.find(key);
    return it == specifics_.end() ? Value() : it->second;
}

std::string DispatchQueue::description() const {
    return "<DispatchQueue: " + label_ + (isSerial() ? " (serial)>" : " (concurrent)>");
}

void DispatchQueue::async(std::function<void()> block) { enqueueDirect(Item{std::move(block), false}); }

void DispatchQueue::async(const std::shared_ptr<DispatchBlock>& block) {
    enqueueDirect(Item{[block] { block->perform(); }, false});
}

void DispatchQueue::async(std::function<void()> block, std::shared_ptr<DispatchCancellation> cancellation) {
    if (!cancellation) {
        async(std::move(block));
        return;
    }
    WorkInProgress& work = workInProgress();
    {
        MutexLock lock(work.mutex);
        work.cancellations.push_back(cancellation);
    }
    async([block = std::move(block), cancellation = std::move(cancellation)] {
        // However the block ends.
        struct Ended {
            const DispatchCancellation* cancellation;
            ~Ended() {
                WorkInProgress& work = workInProgress();
                MutexLock lock(work.mutex);
                auto& all = work.cancellations;
                const auto it = std::find_if(all.begin(), all.end(), [this](const auto& c) { return c.get() == cancellation; });
                if (it != all.end()) all.erase(it);
            }
        } ended{cancellation.get()};
        block();
    });
}

void DispatchQueue::cancelWorkInProgress() {
    WorkInProgress& work = workInProgress();
    MutexLock lock(work.mutex);
    for (const auto& cancellation : work.cancellations) cancellation->cancel();
}

void DispatchQueue::asyncBarrier(std::function<void()> block) { enqueueDirect(Item{std::move(block), true}); }

void DispatchQueue::enqueueDirect(Item item) {
    if (root_ != Root::Pool) {
        enqueue(std::move(item));
        return;
    }
    directOutstanding_.fetch_add(1, std::memory_order_relaxed);
    DispatchThreadPool::shared().submit(priority_, &DispatchQueue::runDirectOnRoot, this, std::move(item.block));
}

void DispatchQueue::enqueue(Item item) {
    if (root_ == Root::Pool || root_ == Root::Apart) {
        DispatchThreadPool& pool = root_ == Root::Pool ? DispatchThreadPool::shared() : DispatchThreadPool::apart();
        pool.submit(priority_, &DispatchQueue::runOnRoot, this, std::move(item.block));
        return;
    }
    if (kind_ == Kind::Serial) {
        bool schedule = false;
        {
            MutexLock lock(mutex_);
            items_.push_back(std::move(item));
            if (!drainScheduled_ && suspendCount_ == 0) schedule = drainScheduled_ = true;
        }
        if (schedule) scheduleDrain();
        return;
    }
    std::deque<Item> toSubmit;
    {
        MutexLock lock(mutex_);
        items_.push_back(std::move(item));
        pumpLocked(toSubmit);
    }
    submitConcurrent(toSubmit);
}

void DispatchQueue::runOnRoot(void* queue, const std::function<void()>& block) {
    auto* root = static_cast<DispatchQueue*>(queue);
    DispatchFrameScope frame(root, false);
    invokeGuarded(root->where_, block);
}

void DispatchQueue::runDirectOnRoot(void* queue, const std::function<void()>& block) {
    runOnRoot(queue, block);
    static_cast<DispatchQueue*>(queue)->directOutstanding_.fetch_sub(1, std::memory_order_relaxed);
}

std::vector<std::shared_ptr<DispatchQueue>> DispatchQueue::alive() {
    std::vector<std::shared_ptr<DispatchQueue>> queues;
    LiveQueues& live = liveQueues();
    MutexLock lock(live.mutex);
    for (DispatchQueue* queue : live.queues) {
        // Empty for one whose destructor waits on the lock held here.
        if (auto held = std::static_pointer_cast<DispatchQueue>(queue->weak_from_this().lock())) {
            queues.push_back(std::move(held));
        }
    }
    return queues;
}

std::string DispatchQueue::outstanding() const {
    if (root_ == Root::Pool) {
        const std::size_t blocks = directOutstanding_.load(std::memory_order_relaxed);
        return blocks == 0 ? "" : std::to_string(blocks) + (blocks == 1 ? " block" : " blocks") + " queued or running";
    }
    MutexLock lock(mutex_);
    const bool running = kind_ == Kind::Serial ? drainScheduled_ : running_ > 0 || barrierRunning_;
    if (!running && items_.empty()) return "";
    std::string text = running ? "running" : "";
    if (!items_.empty()) {
        text += std::string(running ? ", " : "") + std::to_string(items_.size()) +
                (items_.size() == 1 ? " block" : " blocks") + " waiting";
        if (suspendCount_.load(std::memory_order_relaxed) > 0) text += " (suspended)";
    }
    return text;
}

std::vector<std::string> DispatchQueue::runningOwners() const {
    std::vector<const std::type_info*> types;
    if (root_ == Root::Pool) {
        types = DispatchThreadPool::shared().runningBlocks(&DispatchQueue::runDirectOnRoot, this);
    } else if (kind_ == Kind::Serial) {
        if (const std::type_info* type = serialRunning_.load(std::memory_order_acquire)) types.push_back(type);
    } else {
        MutexLock lock(mutex_);
        types = concurrentRunning_;
    }
    std::vector<std::string> owners;
    for (const std::type_info* type : types) {
        std::string owner = ownerOf(*type);
        if (!owner.empty()) owners.push_back(std::move(owner));
    }
    return owners;
}

void DispatchQueue::scheduleDrain() {
    auto self = this->self<DispatchQueue>();
    if (root_ == Root::Main) {
        NSRunLoop::mainRunLoop()->post([self] { self->drain(); });
    } else {
        targetQueue()->enqueue(Item{[self] { self->drain(); }, false});
    }
}

void DispatchQueue::drain() {
    DispatchFrameScope frame(this, false);
    // The main queue runs one batch per run-loop turn; elsewhere a drain that finds more work
    // goes on for a few batches before handing its thread back.
    const int rounds = root_ == Root::Main ? 1 : drainRounds;
    for (int round = 0; round < rounds; ++round) {
        // Only what is queued now, taken under one lock: a block that queues another runs it
        // in a later batch.
        std::deque<Item> batch;
        {
            MutexLock lock(mutex_);
            if (items_.empty() || suspendCount_.load(std::memory_order_relaxed) > 0) {
                drainScheduled_ = false;
                return;
            }
            if (items_.size() <= drainBatchLimit) {
                batch.swap(items_);
            } else {
                for (std::size_t i = 0; i < drainBatchLimit; ++i) {
                    batch.push_back(std::move(items_.front()));
                    items_.pop_front();
                }
            }
        }
        while (!batch.empty()) {
            if (suspendCount_.load(std::memory_order_acquire) > 0) {
                // Suspended meanwhile: what was not started goes back to the front, in order.
                MutexLock lock(mutex_);
                while (!batch.empty()) {
                    items_.push_front(std::move(batch.back()));
                    batch.pop_back();
                }
                break;
            }
            std::function<void()> block = std::move(batch.front().block);
            batch.pop_front();
            serialRunning_.store(&block.target_type(), std::memory_order_release);
            invokeGuarded(where_, block);
            serialRunning_.store(nullptr, std::memory_order_release);
        }
    }
    bool again;
    {
        MutexLock lock(mutex_);
        again = !items_.empty() && suspendCount_.load(std::memory_order_relaxed) == 0;
        if (!again) drainScheduled_ = false;
    }
    if (again) scheduleDrain();
}

void DispatchQueue::pumpLocked(std::deque<Item>& toSubmit) {
    while (!items_.empty() && suspendCount_ == 0 && !barrierRunning_) {
        if (items_.front().barrier) {
            if (running_ > 0) break;
            barrierRunning_ = true;
            concurrentRunning_.push_back(&items_.front().block.target_type());
            toSubmit.push_back(std::move(items_.front()));
            items_.pop_front();
            break;
        }
        ++running_;
        concurrentRunning_.push_back(&items_.front().block.target_type());
        toSubmit.push_back(std::move(items_.front()));
        items_.pop_front();
    }
}

void DispatchQueue::submitConcurrent(std::deque<Item>& toSubmit) {
    if (toSubmit.empty()) return;
    auto self = this->self<DispatchQueue>();
    auto target = targetQueue();
    for (auto& item : toSubmit) {
        const bool barrier = item.barrier;
        const std::type_info* made = &item.block.target_type();
        target->enqueue(Item{[self, block = std::move(item.block), barrier, made] {
                                 {
                                     DispatchFrameScope frame(self.get(), barrier);
                                     invokeGuarded(self->where_, block);
                                 }
                                 self->concurrentFinished(barrier, made);
                             },
                             false});
    }
}

void DispatchQueue::concurrentFinished(bool barrier, const std::type_info* made) {
    std::deque<Item> toSubmit;
    {
        MutexLock lock(mutex_);
        for (auto it = concurrentRunning_.begin(); it != concurrentRunning_.end(); ++it) {
            if (*it == made) {
                concurrentRunning_.erase(it);
                break;
            }
        }
        if (barrier) barrierRunning_ = false;
        else --running_;
        pumpLocked(toSubmit);
    }
    submitConcurrent(toSubmit);
}

void DispatchQueue::sync(const std::function<void()>& block) { runSync(block, false); }

void DispatchQueue::syncBarrier(const std::function<void()>& block) { runSync(block, kind_ == Kind::Concurrent); }

void DispatchQueue::checkNotDeadlocking(bool barrier) const {
    if (root_ == Root::Main && NSThread::isMainThread()) abortDeadlock(label_);
    const auto& frames = currentDispatchFrames();
    if (frames.empty()) return;
    std::shared_ptr<DispatchQueue> next;
    for (const DispatchQueue* q = this; q; q = next.get()) {
        for (const DispatchFrame& frame : frames) {
            if (frame.queue != q) continue;
            if (q->kind_ == Kind::Serial || frame.barrier || (q == this && barrier)) abortDeadlock(label_);
        }
        next = q->targetQueue();
    }
}

void DispatchQueue::syncApart(const std::function<void()>& block, std::shared_ptr<DispatchCancellation> cancellation) {
    checkNotDeadlocking(false);
    handOverAndWait(block, std::move(cancellation));
}

void DispatchQueue::handOverAndWait(const std::function<void()>& block,
                                    std::shared_ptr<DispatchCancellation> cancellation) {
    // Shared: the block signals after the caller may have gone on.
    auto state = std::make_shared<SyncState>();
    async(
        [state, &block] {
            try {
                block();
            } catch (...) {
                state->error = std::current_exception();
            }
            state->set(&SyncState::finished);
        },
        std::move(cancellation));
    {
        DispatchQuiescence::BlockedScope waiting([state] { return state->get(&SyncState::finished); });
        state->wait(&SyncState::finished);
    }
    if (state->error) std::rethrow_exception(state->error);
}

void DispatchQueue::runSync(const std::function<void()>& block, bool barrier) {
    checkNotDeadlocking(barrier);
    if (root_ == Root::Pool) {
        DispatchFrameScope frame(this, false);
        block();
        return;
    }
    if (root_ == Root::Main) {
        // The main queue's work runs on the main thread.
        handOverAndWait(block, nullptr);
        return;
    }
    // A serial queue straight on a global queue, with nothing queued or running, is taken by
    // the caller at once: no pool thread has to reach its turn and hand it over, which costs
    // two thread wake-ups for every synchronous call.
    if (kind_ == Kind::Serial) {
        auto target = targetQueue();
        bool claimed = false;
        if (target && target->root_ == Root::Pool) {
            MutexLock lock(mutex_);
            if (!drainScheduled_ && items_.empty() && suspendCount_.load(std::memory_order_relaxed) == 0)
                claimed = drainScheduled_ = true;
        }
        if (claimed) {
            // Work queued meanwhile waited for the queue; it runs once the caller is done.
            struct Handback {
                DispatchQueue* queue;
                ~Handback() {
                    queue->serialRunning_.store(nullptr, std::memory_order_release);
                    bool again;
                    {
                        MutexLock lock(queue->mutex_);
                        again = !queue->items_.empty() && queue->suspendCount_.load(std::memory_order_relaxed) == 0;
                        if (!again) queue->drainScheduled_ = false;
                    }
                    if (again) queue->scheduleDrain();
                }
            } handback{this};
            DispatchFrameScope targetFrame(target.get(), false);
            DispatchFrameScope frame(this, barrier);
            serialRunning_.store(&block.target_type(), std::memory_order_release);
            block();
            return;
        }
    }
    // Elsewhere the caller runs the block itself once the queue reaches its turn; the thread
    // that reached it holds the queue (and its target chain) until the caller is done.
    auto state = std::make_shared<SyncState>();
    enqueue(Item{[state] {
                     state->set(&SyncState::started);
                     DispatchQuiescence::BlockedScope waiting([state] { return state->get(&SyncState::finished); });
                     state->wait(&SyncState::finished);
                 },
                 barrier});
    {
        DispatchQuiescence::BlockedScope waiting([state] { return state->get(&SyncState::started); });
        state->wait(&SyncState::started);
    }
    struct Release {
        SyncState* state;
        ~Release() { state->set(&SyncState::finished); }
    } release{state.get()};
    // The queue's drain holds it for the caller: the caller's block is what runs on it now,
    // until the drain goes on after the handshake.
    if (kind_ == Kind::Serial) serialRunning_.store(&block.target_type(), std::memory_order_release);
    std::vector<DispatchQueue*> chain;
    for (auto q = this->self<DispatchQueue>(); q; q = q->targetQueue()) chain.push_back(q.get());
    std::vector<std::unique_ptr<DispatchFrameScope>> frames;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        frames.push_back(std::make_unique<DispatchFrameScope>(*it, *it == this && barrier));
    }
    block();
}

void DispatchQueue::after(double seconds, std::function<void()> block) {
    afterDeadline(Clock::now() + seconds, std::move(block));
}

void DispatchQueue::after(double seconds, const std::shared_ptr<DispatchBlock>& block) {
    const std::uint64_t timer = submitAt(Clock::now() + seconds, [block] { block->perform(); });
    if (timer) block->addDelayedSubmission(timer);
}

void DispatchQueue::afterDeadline(double deadline, std::function<void()> block) {
    (void)submitAt(deadline, std::move(block));
}

std::uint64_t DispatchQueue::submitAt(double deadline, std::function<void()> block) {
    if (deadline <= Clock::now()) {
        async(std::move(block));
        return 0;
    }
    auto self = this->self<DispatchQueue>();
    return Clock::schedule(
        deadline, [self, block = std::move(block)]() mutable { self->async(std::move(block)); },
        "a block after a delay on queue \"" + label_ + "\"");
}

void DispatchQueue::suspend() {
    if (root_ != Root::None) return;
    MutexLock lock(mutex_);
    suspendCount_.fetch_add(1, std::memory_order_acq_rel);
}

void DispatchQueue::resume() {
    if (root_ != Root::None) return;
    std::deque<Item> toSubmit;
    bool schedule = false;
    {
        MutexLock lock(mutex_);
        if (suspendCount_ == 0) {
            std::fprintf(stderr, "dispatch: resume of queue \"%s\" that is not suspended; aborting.\n", label_.c_str());
            std::abort();
        }
        if (suspendCount_.fetch_sub(1, std::memory_order_acq_rel) - 1 > 0) return;
        if (kind_ == Kind::Serial) {
            if (!items_.empty() && !drainScheduled_) schedule = drainScheduled_ = true;
        } else {
            pumpLocked(toSubmit);
        }
    }
    if (schedule) scheduleDrain();
    submitConcurrent(toSubmit);
}
