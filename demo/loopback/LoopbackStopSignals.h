// For a program that serves until it is interrupted or terminated: SIGINT and SIGTERM are taken
// by wait() alone, never by a server's threads in the middle of an answer.
#pragma once

#include <csignal>

class LoopbackStopSignals {
public:
    // Blocks the two signals in this thread; the threads started after it inherit that, so make
    // it before the server.
    LoopbackStopSignals();
    // Returns once either signal came.
    void wait();

private:
    sigset_t signals_;
};
