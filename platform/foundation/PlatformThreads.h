// The platform's own long-lived threads: the dispatch pool's workers, the clock's timer
// thread, the user defaults' writer and the network thread. Each names itself as it starts
// (debuggers and /proc show the name) and is listed while it runs, so that any other thread
// of the process (work someone started and left running) can be told apart from them.
#pragma once

#include <sys/types.h>

#include <set>

class PlatformThreads {
public:
    // Held by such a thread for its whole run, from its first line.
    class Member {
    public:
        // At most 15 bytes are kept of the name.
        explicit Member(const char* name);
        ~Member();
        Member(const Member&) = delete;
        Member& operator=(const Member&) = delete;
    };

    // The system's ids of those running now.
    static std::set<pid_t> running();
};
