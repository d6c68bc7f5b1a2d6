// Memory the process freed that its allocator still keeps. glibc's allocator keeps what a
// thread freed in that thread's arena, and every worker thread a burst of work happens to run on
// gets an arena of its own: a burst freed long ago stays resident, once for each worker it ever
// ran on, until it is handed back.
#pragma once

class MemoryPressure {
public:
    // Hands every free page the allocator keeps, in every arena, back to the system. It walks
    // the allocator's free lists: meant after a burst of allocation was freed, not after every
    // small job.
    static void relieve();
};
