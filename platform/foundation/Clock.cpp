// The process clock: real time by default; frozen and stepped by hand in tests.
#include "platform/foundation/Clock.h"

#include "platform/foundation/PlatformThreads.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <map>
#include <thread>

namespace {

double realNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// -1 when the boot time cannot be read.
double realUptime() {
    timespec ts{};
    if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0 || ts.tv_sec == 0) return -1;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Timer {
    Clock::TimerId id;
    std::function<void()> fire;
    std::string label;
    Clock::TimerKind kind;
};

struct Firing {
    std::thread::id thread;
    double fireTime;
    std::string label;
    Clock::TimerKind kind;
};

struct State {
    // advance() from two threads at once would interleave their timers. Taken before `mutex`.
    Mutex advanceMutex ACQUIRED_BEFORE(mutex);
    Mutex mutex;
    std::condition_variable changed;
    bool manual GUARDED_BY(mutex) = false;
    double manualNow GUARDED_BY(mutex) = 0;
    double manualStart GUARDED_BY(mutex) = 0;
    bool uptimeUnreadable GUARDED_BY(mutex) = false;
    double uptimeAtManualStart GUARDED_BY(mutex) = 0;
    Clock::TimerId nextId GUARDED_BY(mutex) = 1;
    std::multimap<double, Timer> timers GUARDED_BY(mutex);  // by fire time, then by scheduling order
    std::map<Clock::TimerId, Firing> firing GUARDED_BY(mutex);
    bool workerStarted GUARDED_BY(mutex) = false;
    // Real mode: the clock time the worker sleeps until, infinity unless it is in such a
    // timed sleep. A timer due no earlier than that needs no wake-up.
    double workerWakesAt GUARDED_BY(mutex) = std::numeric_limits<double>::infinity();
    std::function<void()> settleHook GUARDED_BY(mutex);
    // The thread inside advance(), which alone fires what falls due meanwhile.
    std::thread::id advancingThread GUARDED_BY(mutex);
};

State& state() {
    static State* s = new State;  // never destroyed: timers may be scheduled during exit
    return *s;
}

// Fires `first` with the state lock released; the lock is held again on return.
void fireLocked(State& s, std::multimap<double, Timer>::iterator first) REQUIRES(s.mutex) {
    const Clock::TimerId id = first->second.id;
    auto fire = std::move(first->second.fire);
    s.firing[id] = Firing{std::this_thread::get_id(), first->first, std::move(first->second.label), first->second.kind};
    s.timers.erase(first);
    s.mutex.unlock();
    fire();
    fire = nullptr;  // whatever the callback captured goes before cancel() returns
    s.mutex.lock();
    s.firing.erase(id);
    s.changed.notify_all();
}

// Real mode: fires due timers on the clock's own thread. Manual mode: fires only timers
// that were already due when scheduled (a zero delay must not wait for an advance). What an
// advance makes due is the advance's to fire, in order and settled one by one: taken here
// meanwhile, a timer would fire beside the one before it, and its work could come after
// the advance has returned.
void workerLoop() {
    State& s = state();
    MutexLock lock(s.mutex);
    for (;;) {
        if (s.timers.empty()) {
            s.changed.wait(lock.unique());
            continue;
        }
        auto first = s.timers.begin();
        if (s.manual) {
            if (s.advancingThread != std::thread::id() || first->first > s.manualNow) {
                s.changed.wait(lock.unique());
                continue;
            }
        } else {
            const double now = realNow();
            const double wait = first->first - now;
            if (wait > 0) {
                const double sleep = std::min(wait, 3600.0);
                s.workerWakesAt = now + sleep;
                s.changed.wait_for(lock.unique(), std::chrono::duration<double>(sleep));
                s.workerWakesAt = std::numeric_limits<double>::infinity();
                continue;
            }
        }
        fireLocked(s, first);
    }
}

void runSettle() {
    State& s = state();
    std::function<void()> hook;
    {
        MutexLock lock(s.mutex);
        hook = s.settleHook;
    }
    if (hook) hook();
}

}  // namespace

double Clock::now() {
    State& s = state();
    MutexLock lock(s.mutex);
    return s.manual ? s.manualNow : realNow();
}

double Clock::realSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Clock::uptime() {
    State& s = state();
    MutexLock lock(s.mutex);
    if (!s.manual) return realUptime();
    return s.uptimeUnreadable ? -1 : s.uptimeAtManualStart + (s.manualNow - s.manualStart);
}

void Clock::setUptimeUnreadable(bool unreadable) {
    State& s = state();
    MutexLock lock(s.mutex);
    s.uptimeUnreadable = unreadable;
}

void Clock::setManual(double start) {
    State& s = state();
    MutexLock lock(s.mutex);
    if (!s.manual) s.uptimeAtManualStart = realUptime();
    else s.uptimeAtManualStart += s.manualNow - s.manualStart;
    s.manual = true;
    s.manualNow = start;
    s.manualStart = start;
    s.changed.notify_all();
}

void Clock::setManual() { setManual(realNow()); }

void Clock::setReal() {
    State& s = state();
    MutexLock lock(s.mutex);
    s.manual = false;
    s.uptimeUnreadable = false;
    s.changed.notify_all();
}

bool Clock::isManual() {
    State& s = state();
    MutexLock lock(s.mutex);
    return s.manual;
}

void Clock::advance(double seconds) {
    State& s = state();
    const auto self = std::this_thread::get_id();
    {
        MutexLock lock(s.mutex);
        // Work that an advance runs (a timer, a block its settle drains) advancing again would
        // fire timers out of order inside the outer advance: a fault of that caller.
        if (s.advancingThread == self) {
            std::fprintf(stderr, "Clock::advance called from inside an advance on the same thread; aborting.\n");
            std::fflush(stderr);
            std::abort();
        }
    }
    MutexLock advancing(s.advanceMutex);
    double target;
    {
        MutexLock lock(s.mutex);
        if (!s.manual) return;
        target = s.manualNow + (seconds > 0 ? seconds : 0);
        s.advancingThread = self;
    }
    struct Done {
        State& s;
        ~Done() {
            MutexLock lock(s.mutex);
            s.advancingThread = std::thread::id();
            s.changed.notify_all();
        }
    } done{s};
    auto firingElsewhere = [&s, self]() REQUIRES(s.mutex) {
        return std::any_of(s.firing.begin(), s.firing.end(),
                           [self](const auto& entry) { return entry.second.thread != self; });
    };
    for (;;) {
        runSettle();
        MutexLock lock(s.mutex);
        if (!s.manual) return;
        // A timer the clock's thread took as it was scheduled, before this advance began,
        // hands work on too: it returns, and its work settles, before the next fires.
        if (firingElsewhere()) {
            while (firingElsewhere()) s.changed.wait(lock.unique());
            continue;
        }
        auto first = s.timers.begin();
        if (first == s.timers.end() || first->first > target) {
            if (target > s.manualNow) s.manualNow = target;
            s.changed.notify_all();
            return;
        }
        if (first->first > s.manualNow) s.manualNow = first->first;
        fireLocked(s, first);
    }
}

double Clock::nextFireTime() {
    State& s = state();
    MutexLock lock(s.mutex);
    return s.timers.empty() ? std::numeric_limits<double>::infinity() : s.timers.begin()->first;
}

Clock::TimerId Clock::schedule(double fireTime, std::function<void()> fire, std::string label, TimerKind kind) {
    State& s = state();
    MutexLock lock(s.mutex);
    const TimerId id = s.nextId++;
    const double at = std::isnan(fireTime) ? 0.0 : fireTime;
    s.timers.emplace(at, Timer{id, std::move(fire), std::move(label), kind});
    if (!s.workerStarted) {
        s.workerStarted = true;
        std::thread([] {
            PlatformThreads::Member member("clock-timers");
            workerLoop();
        }).detach();
    }
    // A worker already set to wake before this timer is due finds it then: a request's idle
    // timer, armed far ahead at every start, costs no thread switch.
    if (s.manual || at < s.workerWakesAt) s.changed.notify_all();
    return id;
}

void Clock::cancel(TimerId id) {
    State& s = state();
    MutexLock lock(s.mutex);
    for (auto it = s.timers.begin(); it != s.timers.end(); ++it) {
        if (it->second.id == id) {
            auto fire = std::move(it->second.fire);
            s.timers.erase(it);
            lock.unlock();  // the callback's captures may take locks as they go
            return;
        }
    }
    for (;;) {
        auto it = s.firing.find(id);
        if (it == s.firing.end() || it->second.thread == std::this_thread::get_id()) return;
        s.changed.wait(lock.unique());
    }
}

std::vector<Clock::Pending> Clock::pending() {
    State& s = state();
    MutexLock lock(s.mutex);
    std::vector<Pending> pending;
    for (const auto& [at, timer] : s.timers) pending.push_back({timer.id, at, timer.label, timer.kind, false});
    for (const auto& [id, firing] : s.firing) pending.push_back({id, firing.fireTime, firing.label, firing.kind, true});
    std::sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) { return a.id < b.id; });
    return pending;
}

void Clock::setSettleHook(std::function<void()> hook) {
    State& s = state();
    MutexLock lock(s.mutex);
    s.settleHook = std::move(hook);
}

bool Clock::waitUntil(MutexLock& lock, std::condition_variable& cv, double deadline,
                      const std::function<bool()>& done, const std::function<void()>& waiting) {
    if (done()) return true;
    if (std::isinf(deadline) && deadline > 0) {
        if (waiting) waiting();
        while (!done()) cv.wait(lock.unique());
        return true;
    }
    if (now() >= deadline) return false;
    Mutex* mutex = &lock.mutex();
    const TimerId id = schedule(
        deadline,
        [mutex, &cv] {
            MutexLock wake(*mutex);
            cv.notify_all();
        },
        "the end of a wait with a deadline", TimerKind::Deadline);
    if (waiting) waiting();
    while (!done() && now() < deadline) cv.wait(lock.unique());
    // The wake-up callback takes our mutex, so it must be released while cancelling (through
    // the standard lock: to the caller's analysis the mutex stays held across the call).
    lock.unique().unlock();
    cancel(id);
    lock.unique().lock();
    return done();
}
