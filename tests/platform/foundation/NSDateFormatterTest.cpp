// Date formatting and strict parsing, the calendar day and time-zone offsets, under
// different $TZ settings (POSIX rules, so no time-zone database is needed).
#include "platform/foundation/NSDateFormatter.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSCalendar.h"
#include "platform/foundation/NSTimeZone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

// Sets $TZ for one test and puts the old value back.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        ::setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (saved_) ::setenv("TZ", saved_->c_str(), 1);
        else ::unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

std::shared_ptr<NSDateFormatter> formatter(const std::string& pattern, std::shared_ptr<NSTimeZone> zone) {
    auto f = NSDateFormatter::make();
    f->setLocale("en_US_POSIX");
    f->setDateFormat(pattern);
    f->setTimeZone(std::move(zone));
    return f;
}

constexpr double kSample = 1700000000.0;  // 2023-11-14 22:13:20 UTC, a Tuesday

}  // namespace

TEST(DateFormatterOutput, ISOPatternInGMTAndFixedOffsets) {
    const auto iso = formatter("yyyy-MM-dd'T'HH:mm:ssZZZZZ", NSTimeZone::GMT());
    EXPECT_EQ(iso->stringFromDate(NSDate{0}), "1970-01-01T00:00:00Z");
    EXPECT_EQ(iso->stringFromDate(NSDate{kSample}), "2023-11-14T22:13:20Z");
    EXPECT_EQ(iso->stringFromDate(NSDate{kSample + 0.999}), "2023-11-14T22:13:20Z") << "seconds are truncated";
    EXPECT_EQ(iso->stringFromDate(NSDate{-1.5}), "1969-12-31T23:59:58Z");
    iso->setTimeZone(NSTimeZone::timeZoneForSecondsFromGMT(3 * 3600));
    EXPECT_EQ(iso->stringFromDate(NSDate{kSample}), "2023-11-15T01:13:20+03:00");
    iso->setTimeZone(NSTimeZone::timeZoneWithName("GMT-05:30"));
    EXPECT_EQ(iso->stringFromDate(NSDate{kSample}), "2023-11-14T16:43:20-05:30");
}

TEST(DateFormatterOutput, EveryPatternTheCodeUses) {
    const auto gmt = NSTimeZone::GMT();
    EXPECT_EQ(formatter("yyyy-MM-dd", gmt)->stringFromDate(NSDate{kSample}), "2023-11-14");
    EXPECT_EQ(formatter("HH:mm", gmt)->stringFromDate(NSDate{kSample}), "22:13");
    EXPECT_EQ(formatter("dd.MM.yyyy", gmt)->stringFromDate(NSDate{kSample}), "14.11.2023");
    EXPECT_EQ(formatter("yyyy-MM-dd HH:mm:ss", gmt)->stringFromDate(NSDate{kSample}), "2023-11-14 22:13:20");
    EXPECT_EQ(formatter("EEE, dd MMM yyyy HH:mm:ss Z", gmt)->stringFromDate(NSDate{kSample}),
              "Tue, 14 Nov 2023 22:13:20 +0000");
    EXPECT_EQ(formatter("EEEE d MMMM yy h:mm a", gmt)->stringFromDate(NSDate{kSample}), "Tuesday 14 November 23 10:13 PM");
    EXPECT_EQ(formatter("'at' HH 'o''clock' ''", gmt)->stringFromDate(NSDate{kSample}), "at 22 o'clock '");
    EXPECT_EQ(formatter("HH:mm:ss.SSS", gmt)->stringFromDate(NSDate{kSample + 0.0456}), "22:13:20.045");
    EXPECT_EQ(formatter("zzzz", NSTimeZone::timeZoneForSecondsFromGMT(-7 * 3600))->stringFromDate(NSDate{kSample}),
              "GMT-07:00");
}

TEST(DateFormatterParsing, RoundTripsInEveryPatternAndZone) {
    const char* patterns[] = {"yyyy-MM-dd'T'HH:mm:ssZZZZZ", "yyyy-MM-dd HH:mm:ss", "EEE, dd MMM yyyy HH:mm:ss Z",
                              "yyyyMMddHHmmss", "dd.MM.yyyy HH:mm:ss.SSS"};
    for (const long offset : {0L, 3 * 3600L, -(9 * 3600L + 30 * 60)}) {
        for (const char* pattern : patterns) {
            const auto f = formatter(pattern, NSTimeZone::timeZoneForSecondsFromGMT(offset));
            for (const double t : {0.0, kSample, -2208988800.0, 4102444799.0, 951782400.0 /* 2000-02-29 */}) {
                const std::string text = f->stringFromDate(NSDate{t});
                const auto back = f->dateFromString(text);
                ASSERT_TRUE(back.has_value()) << pattern << " " << text;
                EXPECT_DOUBLE_EQ(back->timeIntervalSince1970, t) << pattern << " " << text;
            }
        }
    }
    const auto withFraction = formatter("HH:mm:ss.SSS", NSTimeZone::GMT())->dateFromString("00:00:01.050");
    ASSERT_TRUE(withFraction.has_value());
    EXPECT_NEAR(withFraction->timeIntervalSince1970, 1.05, 1e-9);
}

TEST(DateFormatterParsing, TheTextsZoneWinsOverTheFormatters) {
    const auto iso = formatter("yyyy-MM-dd'T'HH:mm:ssZZZZZ", NSTimeZone::timeZoneForSecondsFromGMT(5 * 3600));
    for (const char* text : {"2023-11-14T22:13:20Z", "2023-11-15T01:13:20+03:00", "2023-11-14T17:13:20-0500",
                             "2023-11-14T22:13:20+00:00"}) {
        const auto date = iso->dateFromString(text);
        ASSERT_TRUE(date.has_value()) << text;
        EXPECT_EQ(date->timeIntervalSince1970, kSample) << text;
    }
}

TEST(DateFormatterParsing, StrictFailures) {
    const auto day = formatter("yyyy-MM-dd", NSTimeZone::GMT());
    for (const char* text : {"", "2023-13-01", "2023-00-10", "2023-02-29", "2023-04-31", "2023-11-14x", "2023/11/14",
                             "2023-11", "x2023-11-14", "2023-11-14 ", "2023-1a-01"})
        EXPECT_FALSE(day->dateFromString(text).has_value()) << "\"" << text << "\"";
    EXPECT_TRUE(day->dateFromString("2024-02-29").has_value());

    const auto time = formatter("HH:mm", NSTimeZone::GMT());
    for (const char* text : {"24:00", "23:60", "7", "12:5x", "-1:00"})
        EXPECT_FALSE(time->dateFromString(text).has_value()) << text;
    const auto iso = formatter("yyyy-MM-dd'T'HH:mm:ssZZZZZ", NSTimeZone::GMT());
    for (const char* text : {"2023-11-14T22:13:20", "2023-11-14T22:13:20+25:00", "2023-11-14T22:13:20+03:",
                             "2023-11-14T22:13:61Z", "2023-11-14'T'22:13:20Z"})
        EXPECT_FALSE(iso->dateFromString(text).has_value()) << text;
    EXPECT_FALSE(formatter("yyyyMMdd", NSTimeZone::GMT())->dateFromString("2023111").has_value());
    EXPECT_FALSE(formatter("dd MMM yyyy", NSTimeZone::GMT())->dateFromString("14 Nox 2023").has_value());
}

TEST(DateFormatterParsing, MissingFieldsDefaultToTheEpochDayInTheFormattersZone) {
    const auto time = formatter("HH:mm", NSTimeZone::timeZoneForSecondsFromGMT(3600));
    const auto date = time->dateFromString("07:30");
    ASSERT_TRUE(date.has_value());
    EXPECT_EQ(date->timeIntervalSince1970, 6.5 * 3600);
}

TEST(DateFormatterParsing, TwoDigitYearsFallInTheWindowAroundNow) {
    Clock::setManual(kSample);  // late 2023
    const auto f = formatter("dd.MM.yy", NSTimeZone::GMT());
    const NSCalendar calendar(NSTimeZone::GMT());
    EXPECT_EQ(calendar.components(*f->dateFromString("01.01.30")).year, 2030);
    EXPECT_EQ(calendar.components(*f->dateFromString("01.01.50")).year, 1950);
    EXPECT_EQ(calendar.components(*f->dateFromString("01.01.42")).year, 2042);
    EXPECT_EQ(calendar.components(*f->dateFromString("01.01.44")).year, 1944);
    Clock::setReal();
}

TEST(LocalTimeZone, FollowsTZIncludingDaylightSaving) {
    {
        ZoneGuard zone("XYZ-3");  // POSIX sign: three hours east
        EXPECT_EQ(NSTimeZone::localTimeZone()->secondsFromGMTForDate(NSDate{kSample}), 3 * 3600);
        const auto local = formatter("yyyy-MM-dd HH:mm", NSTimeZone::localTimeZone());
        EXPECT_EQ(local->stringFromDate(NSDate{kSample}), "2023-11-15 01:13");
        EXPECT_EQ(local->dateFromString("2023-11-15 01:13")->timeIntervalSince1970, kSample - 20);
        EXPECT_EQ(NSTimeZone::localTimeZone()->name(), "XYZ-3");
    }
    {
        ZoneGuard zone("EST5EDT,M3.2.0,M11.1.0");
        const auto local = NSTimeZone::localTimeZone();
        EXPECT_EQ(local->secondsFromGMTForDate(NSDate{1673784000.0}), -5 * 3600);  // 2023-01-15
        EXPECT_EQ(local->secondsFromGMTForDate(NSDate{1689422400.0}), -4 * 3600);  // 2023-07-15
        const auto f = formatter("yyyy-MM-dd HH:mm:ss", local);
        EXPECT_EQ(f->stringFromDate(NSDate{1689422400.0}), "2023-07-15 08:00:00");
        EXPECT_EQ(f->dateFromString("2023-07-15 08:00:00")->timeIntervalSince1970, 1689422400.0);
        EXPECT_EQ(f->dateFromString("2023-01-15 07:00:00")->timeIntervalSince1970, 1673784000.0);
    }
}

TEST(LocalTimeZone, NamedAndOffsetZones) {
    EXPECT_EQ(NSTimeZone::timeZoneWithName("UTC")->secondsFromGMT(), 0);
    EXPECT_EQ(NSTimeZone::timeZoneWithName("GMT+3")->secondsFromGMT(), 3 * 3600);
    EXPECT_EQ(NSTimeZone::timeZoneWithName("UTC-0530")->secondsFromGMT(), -(5 * 3600 + 30 * 60));
    EXPECT_EQ(NSTimeZone::timeZoneWithName("GMT+03:00")->name(), "GMT+0300");
    EXPECT_EQ(NSTimeZone::timeZoneWithName("Mars/Olympus"), nullptr);
    EXPECT_EQ(NSTimeZone::timeZoneWithName("GMT+25"), nullptr);
    EXPECT_EQ(NSTimeZone::timeZoneForSecondsFromGMT(90000), nullptr);
    EXPECT_TRUE(NSTimeZone::timeZoneWithName("GMT")->isEqual(NSTimeZone::GMT().get()));
}

TEST(CalendarDay, ComponentsAndStartOfDayInTheLocalZone) {
    ZoneGuard zone("XYZ-3");
    const auto calendar = NSCalendar::currentCalendar();
    const NSDateComponents c = calendar->components(NSDate{kSample});
    EXPECT_EQ(c.year, 2023);
    EXPECT_EQ(c.month, 11);
    EXPECT_EQ(c.day, 15);  // already the next day three hours east
    EXPECT_EQ(c.hour, 1);
    EXPECT_EQ(c.weekday, 4);  // Wednesday
    const NSDate start = calendar->startOfDayForDate(NSDate{kSample});
    EXPECT_EQ(start.timeIntervalSince1970, kSample - (3600 + 13 * 60 + 20));
    EXPECT_TRUE(calendar->isDateInSameDay(start, NSDate{kSample}));
    EXPECT_FALSE(calendar->isDateInSameDay(start, NSDate{start.timeIntervalSince1970 - 1}));
}

TEST(CalendarDay, StartOfDayAcrossADaylightSavingChange) {
    ZoneGuard zone("EST5EDT,M3.2.0,M11.1.0");
    const auto calendar = NSCalendar::currentCalendar();
    // 2023-03-12 is 23 hours long in this zone.
    const NSDate noon = *calendar->dateFromComponents({2023, 3, 12, 12, 0, 0, 0, 0});
    const NSDate start = calendar->startOfDayForDate(noon);
    EXPECT_EQ(start.timeIntervalSince1970, 1678597200.0);  // 2023-03-12 05:00 UTC
    const NSDate nextStart = calendar->startOfDayForDate(NSDate{noon.timeIntervalSince1970 + 86400});
    EXPECT_EQ(nextStart.timeIntervalSince1970 - start.timeIntervalSince1970, 23 * 3600);
}

TEST(CalendarDay, ComponentsRejectImpossibleDatesAndCivilDaysRoundTrip) {
    const NSCalendar calendar(NSTimeZone::GMT());
    EXPECT_FALSE(calendar.dateFromComponents({2023, 2, 29, 0, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(calendar.dateFromComponents({2023, 13, 1, 0, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(calendar.dateFromComponents({2023, 1, 1, 24, 0, 0, 0, 0}).has_value());
    EXPECT_EQ(calendar.dateFromComponents({2000, 2, 29, 0, 0, 0, 0, 0})->timeIntervalSince1970, 951782400.0);
    for (std::int64_t days = -1000000; days <= 1000000; days += 997) {
        std::int64_t year = 0;
        unsigned month = 0, day = 0;
        NSCalendar::civilFromDays(days, year, month, day);
        ASSERT_GE(day, 1u);
        ASSERT_LE(day, NSCalendar::daysInMonth(year, month));
        ASSERT_EQ(NSCalendar::daysFromCivil(year, month, day), days);
    }
}
