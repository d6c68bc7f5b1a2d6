// The process's network as a whole: its shutdown as the process ends, and what a front end
// that drives a manual clock needs to know of real transfers (how many are live, when they
// last made progress). Implemented beside the transfers, in URLTransfer.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

class URLNetwork {
public:
    // Ends every live transfer with NSURLErrorCancelled (each client hears it once), wakes the
    // network thread and joins it, and releases the handles libcurl kept. Afterwards nothing of
    // the network runs but the name lookups it left (below), so libcurl and OpenSSL may clean up
    // at exit once those have ended; transfers started later fail at once with
    // NSURLErrorCancelled saying the network is shut down. A second call does nothing.
    static void shutdown();
    static bool isShutDown();
    // Starts the network again after a shutdown, as a new process would have it (tests).
    static void restart();

    // Transfers started and not yet ended.
    static std::size_t liveTransferCount();
    // Counts what happens to transfers: a start, a line of a head, bytes sent or received (a head's
    // too, as they come), an end.
    static std::uint64_t activityCount();
    // Waits until activityCount() differs from `since`, or `timeoutSeconds` of real time pass;
    // true when it changed.
    [[nodiscard]] static bool waitForActivity(std::uint64_t since, double timeoutSeconds);
    // A transfer taken out during its name lookup (cancelled, timed out, shut down) does not wait
    // for the system's resolver: the lookup goes on in a thread of libcurl's, which ends by
    // itself once answered, whatever the network does meanwhile. Waits until no such thread,
    // nor one of a live transfer, runs, at most `timeoutSeconds` of real time; true then.
    [[nodiscard]] static bool waitForLookupThreads(double timeoutSeconds);
    // Waits until no transfer is live or none has made progress for `quietSeconds` of real
    // time (a reply on its way has had the time to arrive), at most `timeoutSeconds`; then lets
    // the network thread read and hand to the clients everything that has arrived. False when
    // the timeout ended the wait.
    [[nodiscard]] static bool waitUntilQuiet(double quietSeconds, double timeoutSeconds);
};
