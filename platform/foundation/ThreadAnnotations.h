// What each mutex guards, said so that clang's thread-safety analysis checks it: a mutex that
// is a capability, the scoped lock that holds it, and the attributes for guarded state and for
// functions that need a lock held (or not held). Other compilers see plain locks.
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define OSTREL_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define OSTREL_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(name) OSTREL_THREAD_ATTRIBUTE(capability(name))
#define SCOPED_CAPABILITY OSTREL_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(mutex) OSTREL_THREAD_ATTRIBUTE(guarded_by(mutex))
#define PT_GUARDED_BY(mutex) OSTREL_THREAD_ATTRIBUTE(pt_guarded_by(mutex))
#define ACQUIRED_BEFORE(...) OSTREL_THREAD_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define REQUIRES(...) OSTREL_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) OSTREL_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) OSTREL_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) OSTREL_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) OSTREL_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(mutex) OSTREL_THREAD_ATTRIBUTE(assert_capability(mutex))
#define RETURN_CAPABILITY(mutex) OSTREL_THREAD_ATTRIBUTE(lock_returned(mutex))
// For the few functions whose locking the analysis cannot follow (a lock handed to a callback).
#define NO_THREAD_SAFETY_ANALYSIS OSTREL_THREAD_ATTRIBUTE(no_thread_safety_analysis)

// A std::mutex the analysis knows as a capability.
class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

    // Tells the analysis the caller holds this mutex where it cannot see it taken (a callback
    // that runs under a lock its caller took).
    void assertHeld() const ASSERT_CAPABILITY(this) {}

    // For std::condition_variable, which waits on the standard mutex itself.
    std::mutex& native() { return mutex_; }

private:
    std::mutex mutex_;
};

// Holds a Mutex for its scope; it can be released and taken again inside the scope, and a
// condition variable waits on it through unique().
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex), lock_(mutex.native()) {}
    ~MutexLock() RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void lock() ACQUIRE() { lock_.lock(); }
    void unlock() RELEASE() { lock_.unlock(); }

    // Waits on `cv` until `done()` holds; the mutex is held when `done` runs and on return (a
    // predicate that reads guarded state says so with REQUIRES).
    template <typename Predicate>
    void wait(std::condition_variable& cv, Predicate done) NO_THREAD_SAFETY_ANALYSIS {
        while (!done()) cv.wait(lock_);
    }
    std::unique_lock<std::mutex>& unique() { return lock_; }
    // The mutex this lock holds, for a callback that must take it later.
    Mutex& mutex() const { return mutex_; }

private:
    Mutex& mutex_;
    std::unique_lock<std::mutex> lock_;
};
