// A point in time: seconds since 1970 as a double, read from the process clock.
#pragma once

#include <compare>

struct NSDate {
    double timeIntervalSince1970 = 0;

    // Now, from the process clock (manual in tests).
    static NSDate date();
    static NSDate dateWithTimeIntervalSince1970(double seconds) { return NSDate{seconds}; }
    static NSDate dateWithTimeIntervalSinceNow(double seconds);
    static NSDate distantPast() { return NSDate{-62135769600.0}; }
    static NSDate distantFuture() { return NSDate{64092211200.0}; }

    double timeIntervalSinceDate(const NSDate& other) const { return timeIntervalSince1970 - other.timeIntervalSince1970; }
    double timeIntervalSinceNow() const;
    NSDate dateByAddingTimeInterval(double seconds) const { return NSDate{timeIntervalSince1970 + seconds}; }

    auto operator<=>(const NSDate&) const = default;
};
