// The stop signals of the servers' programs.
#include "demo/loopback/LoopbackStopSignals.h"

#include <pthread.h>

LoopbackStopSignals::LoopbackStopSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
}

void LoopbackStopSignals::wait() {
    int received = 0;
    sigwait(&signals_, &received);
}
