// Civil-time arithmetic (days from and to year/month/day) and zone conversions.
#include "platform/foundation/NSCalendar.h"

#include <cmath>

std::shared_ptr<NSCalendar> NSCalendar::currentCalendar() {
    return std::make_shared<NSCalendar>(NSTimeZone::localTimeZone());
}

std::shared_ptr<NSCalendar> NSCalendar::calendarWithTimeZone(std::shared_ptr<NSTimeZone> timeZone) {
    return std::make_shared<NSCalendar>(timeZone ? std::move(timeZone) : NSTimeZone::localTimeZone());
}

void NSCalendar::setTimeZone(std::shared_ptr<NSTimeZone> timeZone) {
    timeZone_ = timeZone ? std::move(timeZone) : NSTimeZone::localTimeZone();
}

// The well-known era-based conversion: 400-year eras of 146097 days.
std::int64_t NSCalendar::daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

void NSCalendar::civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
}

unsigned NSCalendar::daysInMonth(std::int64_t year, unsigned month) {
    static const unsigned lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : lengths[month - 1];
}

double NSCalendar::secondsFromCivil(const NSDateComponents& civil, const NSTimeZone& zone) {
    const double wall = static_cast<double>(daysFromCivil(civil.year, static_cast<unsigned>(civil.month),
                                                          static_cast<unsigned>(civil.day))) * 86400.0 +
                        civil.hour * 3600.0 + civil.minute * 60.0 + civil.second;
    // The offset depends on the instant being sought: guess, then correct once with the
    // offset at the guess (enough for daylight-saving shifts).
    const long firstOffset = zone.secondsFromGMTForDate(NSDate{wall});
    const long offset = zone.secondsFromGMTForDate(NSDate{wall - firstOffset});
    return wall - offset + civil.fraction;
}

NSDateComponents NSCalendar::components(NSDate date) const {
    const double whole = std::floor(date.timeIntervalSince1970);
    const double local = whole + static_cast<double>(timeZone_->secondsFromGMTForDate(date));
    const auto days = static_cast<std::int64_t>(std::floor(local / 86400.0));
    const auto secondOfDay = static_cast<long>(local - static_cast<double>(days) * 86400.0);
    NSDateComponents result;
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(days, year, month, day);
    result.year = static_cast<long>(year);
    result.month = month;
    result.day = day;
    result.hour = secondOfDay / 3600;
    result.minute = secondOfDay % 3600 / 60;
    result.second = secondOfDay % 60;
    result.fraction = date.timeIntervalSince1970 - whole;
    // 1970-01-01 was a Thursday (weekday 5).
    result.weekday = static_cast<long>(((days % 7) + 7 + 4) % 7) + 1;
    return result;
}

NSDate NSCalendar::startOfDayForDate(NSDate date) const {
    NSDateComponents day = components(date);
    day.hour = day.minute = day.second = 0;
    day.fraction = 0;
    return NSDate{secondsFromCivil(day, *timeZone_)};
}

bool NSCalendar::isDateInSameDay(NSDate a, NSDate b) const {
    const NSDateComponents x = components(a), y = components(b);
    return x.year == y.year && x.month == y.month && x.day == y.day;
}

std::optional<NSDate> NSCalendar::dateFromComponents(const NSDateComponents& c) const {
    if (c.month < 1 || c.month > 12 || c.day < 1 ||
        c.day > static_cast<long>(daysInMonth(c.year, static_cast<unsigned>(c.month))) || c.hour < 0 ||
        c.hour > 23 || c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59 || c.fraction < 0 ||
        c.fraction >= 1)
        return std::nullopt;
    return NSDate{secondsFromCivil(c, *timeZone_)};
}
