// One run's hold on its home folder: an advisory lock on a file in it, which the kernel drops
// however the process ends (kill -9 too). Two runs on one home would share its databases and
// settings, and one engine would find its tables locked; the second is refused instead.
#pragma once

#include "platform/foundation/NSError.h"

#include <memory>
#include <string>
#include <utility>

class SimHomeClaim {
public:
    static constexpr const char* kErrorDomain = "SimHomeClaim";
    enum Code : long { InUse = 1, Unusable = 2 };
    // The file in the home that is locked; it holds the holder's process id.
    static constexpr const char* kLockFileName = "simulator.lock";

    // Makes the folder when it is missing and takes it for this process until the claim is
    // destroyed or the process ends. Empty when another process holds it (InUse) or it cannot
    // be made or written (Unusable); the error's description is the one line to show.
    // A link where the lock file belongs is never followed: it is moved aside first.
    [[nodiscard]] static std::unique_ptr<SimHomeClaim> claim(const std::string& home, NSErrorPtr* error);
    ~SimHomeClaim();
    SimHomeClaim(const SimHomeClaim&) = delete;
    SimHomeClaim& operator=(const SimHomeClaim&) = delete;

    // Where the link found in the lock file's place went, "" when there was none: for the log,
    // which starts after the claim.
    const std::string& movedAside() const { return movedAside_; }

private:
    SimHomeClaim(int fd, std::string movedAside) : fd_(fd), movedAside_(std::move(movedAside)) {}
    int fd_;
    std::string movedAside_;
};
