// The process clock: real time by default; frozen and stepped by hand in tests.
#include "platform/foundation/Clock.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace {

double realNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

struct Timer {
    Clock::TimerId id;
    std::function<void()> fire;
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;
    bool manual = false;
    double manualNow = 0;
    Clock::TimerId nextId = 1;
    std::multimap<double, Timer> timers;  // by fire time, then by scheduling order
    std::thread worker;
    bool workerStarted = false;
};

State& state() {
    static State* s = new State;  // never destroyed: timers may be scheduled during exit
    return *s;
}

// Real mode: fires due timers on the clock's own thread.
void workerLoop() {
    State& s = state();
    std::unique_lock lock(s.mutex);
    for (;;) {
        if (s.manual || s.timers.empty()) {
            s.changed.wait(lock);
            continue;
        }
        auto first = s.timers.begin();
        const double wait = first->first - realNow();
        if (wait > 0) {
            s.changed.wait_for(lock, std::chrono::duration<double>(std::min(wait, 3600.0)));
            continue;
        }
        auto fire = std::move(first->second.fire);
        s.timers.erase(first);
        lock.unlock();
        fire();
        lock.lock();
    }
}

}  // namespace

double Clock::now() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.manual ? s.manualNow : realNow();
}

void Clock::setManual(double start) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.manual = true;
    s.manualNow = start;
    s.changed.notify_all();
}

void Clock::setManual() { setManual(realNow()); }

void Clock::setReal() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.manual = false;
    s.changed.notify_all();
}

bool Clock::isManual() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.manual;
}

void Clock::advance(double seconds) {
    State& s = state();
    std::unique_lock lock(s.mutex);
    if (!s.manual) return;
    const double target = s.manualNow + (seconds > 0 ? seconds : 0);
    for (;;) {
        auto first = s.timers.begin();
        if (first == s.timers.end() || first->first > target) break;
        if (first->first > s.manualNow) s.manualNow = first->first;
        auto fire = std::move(first->second.fire);
        s.timers.erase(first);
        lock.unlock();
        fire();
        lock.lock();
    }
    s.manualNow = target;
}

Clock::TimerId Clock::schedule(double fireTime, std::function<void()> fire) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    const TimerId id = s.nextId++;
    s.timers.emplace(fireTime, Timer{id, std::move(fire)});
    if (!s.workerStarted) {
        s.workerStarted = true;
        s.worker = std::thread(workerLoop);
        s.worker.detach();
    }
    s.changed.notify_all();
    return id;
}

void Clock::cancel(TimerId id) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    for (auto it = s.timers.begin(); it != s.timers.end(); ++it) {
        if (it->second.id == id) {
            s.timers.erase(it);
            break;
        }
    }
}
