// The list of the platform's own threads.
#include "platform/foundation/PlatformThreads.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <pthread.h>
#include <unistd.h>

#include <string>

namespace {

struct Listed {
    Mutex mutex;
    std::set<pid_t> threads GUARDED_BY(mutex);
};

Listed& listed() {
    static Listed* list = new Listed;  // detached threads leave after static destruction
    return *list;
}

}  // namespace

PlatformThreads::Member::Member(const char* name) {
    (void)pthread_setname_np(pthread_self(), std::string(name).substr(0, 15).c_str());
    Listed& list = listed();
    MutexLock lock(list.mutex);
    list.threads.insert(gettid());
}

PlatformThreads::Member::~Member() {
    Listed& list = listed();
    MutexLock lock(list.mutex);
    list.threads.erase(gettid());
}

std::set<pid_t> PlatformThreads::running() {
    Listed& list = listed();
    MutexLock lock(list.mutex);
    return list.threads;
}
