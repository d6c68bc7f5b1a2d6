// Time zones: GMT, fixed offsets, and the local zone, which follows $TZ at every query.
#pragma once

#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>

class NSTimeZone : public NSObject {
public:
    // The process's zone as the C library sees it ($TZ, else the system setting), read anew
    // at every query so a test or the user changing $TZ takes effect at once.
    static std::shared_ptr<NSTimeZone> localTimeZone();
    static std::shared_ptr<NSTimeZone> systemTimeZone() { return localTimeZone(); }
    static std::shared_ptr<NSTimeZone> GMT();
    // Offsets are whole seconds east of Greenwich, within a day either way; empty otherwise.
    static std::shared_ptr<NSTimeZone> timeZoneForSecondsFromGMT(long seconds);
    // "GMT", "UTC", "Z" and offset names such as "GMT+3", "GMT+03:00", "UTC-0530", "+02:00";
    // empty for other names (named regions are only reachable as the local zone).
    static std::shared_ptr<NSTimeZone> timeZoneWithName(const std::string& name);
    static std::shared_ptr<NSTimeZone> timeZoneWithAbbreviation(const std::string& abbreviation) {
        return timeZoneWithName(abbreviation);
    }

    long secondsFromGMT() const;
    long secondsFromGMTForDate(NSDate date) const;
    // "GMT", "GMT+0300", or for the local zone its $TZ or system name.
    std::string name() const;
    bool isLocal() const { return local_; }

    std::string description() const override;
    bool isEqual(const NSObject* other) const override;

    NSTimeZone(bool local, long offset) : local_(local), offset_(offset) {}

private:
    bool local_;
    long offset_;
};
