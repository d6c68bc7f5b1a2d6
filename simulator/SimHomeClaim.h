// One run's hold on its home folder: an advisory lock on a file in it, which the kernel drops
// however the process ends (kill -9 too). Two runs on one home would share its databases and
// settings, and one engine would find its tables locked; the second is refused instead.
#pragma once

#include "platform/foundation/NSError.h"

#include <memory>
#include <string>

class SimHomeClaim {
public:
    static constexpr const char* kErrorDomain = "SimHomeClaim";
    enum Code : long { InUse = 1, Unusable = 2 };
    // The file in the home that is locked; it holds the holder's process id.
    static constexpr const char* kLockFileName = "simulator.lock";

    // Makes the folder when it is missing and takes it for this process until the claim is
    // destroyed or the process ends. Empty when another process holds it (InUse) or it cannot
    // be made or written (Unusable); the error's description is the one line to show.
    [[nodiscard]] static std::unique_ptr<SimHomeClaim> claim(const std::string& home, NSErrorPtr* error);
    ~SimHomeClaim();
    SimHomeClaim(const SimHomeClaim&) = delete;
    SimHomeClaim& operator=(const SimHomeClaim&) = delete;

private:
    explicit SimHomeClaim(int fd) : fd_(fd) {}
    int fd_;
};
