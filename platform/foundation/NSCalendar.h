// The Gregorian calendar in a time zone: a date's civil fields, the start of its day, and
// dates from fields. The civil-day arithmetic here serves every date conversion of the layer.
#pragma once

#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/NSTimeZone.h"

#include <cstdint>
#include <memory>
#include <optional>

struct NSDateComponents {
    long year = 1970;
    long month = 1;        // 1...12
    long day = 1;          // 1...31
    long hour = 0;
    long minute = 0;
    long second = 0;
    double fraction = 0;   // of the second, [0, 1)
    long weekday = 0;      // 1 Sunday ... 7 Saturday, filled in by components()
};

class NSCalendar : public NSObject {
public:
    // Gregorian in the local time zone (which follows $TZ).
    static std::shared_ptr<NSCalendar> currentCalendar();
    static std::shared_ptr<NSCalendar> calendarWithTimeZone(std::shared_ptr<NSTimeZone> timeZone);

    std::shared_ptr<NSTimeZone> timeZone() const { return timeZone_; }
    void setTimeZone(std::shared_ptr<NSTimeZone> timeZone);

    NSDateComponents components(NSDate date) const;
    NSDate startOfDayForDate(NSDate date) const;
    bool isDateInSameDay(NSDate a, NSDate b) const;
    // Empty when a field is out of its range (month 13, 30 February, hour 24...).
    [[nodiscard]] std::optional<NSDate> dateFromComponents(const NSDateComponents& components) const;

    // Proleptic Gregorian day numbers, counted from 1970-01-01.
    static std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day);
    static void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day);
    static unsigned daysInMonth(std::int64_t year, unsigned month);
    // UTC seconds of a civil time read in a zone of that offset function.
    static double secondsFromCivil(const NSDateComponents& civil, const NSTimeZone& zone);

    explicit NSCalendar(std::shared_ptr<NSTimeZone> timeZone) : timeZone_(std::move(timeZone)) {}

private:
    std::shared_ptr<NSTimeZone> timeZone_;
};
