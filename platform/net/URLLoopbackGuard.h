// What may leave the machine. Always: a name under the reserved ".invalid" is never looked up
// (its request fails as a host that cannot be found), so a default host of that kind stays here.
// In test runs, when the environment variable OSTREL_LOOPBACK_ONLY names a report file, the
// process also connects only to addresses in 127.0.0.0/8 and looks no name up that would leave
// the machine: every other destination fails its request before any packet goes out, and is
// appended to the report (one line: the destination and the URL) and said on standard error.
// Child processes inherit the variable, so one report covers a whole test run.
#pragma once

#include <curl/curl.h>
#include <sys/socket.h>

#include <string>

class URLLoopbackGuard {
public:
    static constexpr const char* kReportVariable = "OSTREL_LOOPBACK_ONLY";

    // Whether the rule is in force in this process (the environment is read once).
    static bool isActive();
    // The report file the rule appends to; "" when inactive.
    static const std::string& reportPath();
    // An IPv4 address in 127.0.0.0/8, also as an IPv4-mapped IPv6 address.
    static bool isLoopbackAddress(const sockaddr* address);
    // A name under ".invalid" (RFC 6761), which no lookup may resolve.
    static bool isReservedInvalidName(const std::string& host);
    // A name whose lookups this process answers itself, on the machine (a test's stand-in for
    // the system's resolver): in test runs its lookup is let through until the name is removed.
    static void addNameAnsweredHere(const std::string& host);
    static void removeNameAnsweredHere(const std::string& host);
    // Puts the rules on a transfer's handle.
    static void applyTo(CURL* easy);
};
