// The write pipeline behind the analytics door: the daily limits with their thinned messages
// and the error events they raise, the allowlist given at start, and the remote block list.
#include "EngineTestSupport.h"

#include "UploadTestSupport.h"

namespace {

class APMWritePipelineTest : public EngineTest {
protected:
    // Applies a configuration with these settings and one blocklisted event name, as a fetch would.
    void configure(const std::vector<std::pair<std::string, std::string>>& settings, const std::string& blocklisted = "") {
        auto config = makeMeasurementConfig(settings, 1, kAppID);
        if (!blocklisted.empty()) addEventConfig(config, blocklisted, true, false);
        bool applied = false;
        engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID(
            "test", [&] { applied = engine()->remoteConfigInstance()->updateMeasurementConfig(config); });
        ASSERT_TRUE(applied);
    }
    std::vector<long long> errorCodes() {
        std::vector<long long> codes;
        for (const auto& value : rawEventValues("_err", "_err")) codes.push_back(value.isNumber() ? value.longLongValue() : -1);
        return codes;
    }
    void logNumbered(const std::string& name, int from, int to, bool isPublic = true) {
        for (int n = from; n < to; ++n) {
            if (isPublic) {
                APMAnalytics::logEventWithName(name, {{"n", Value(n)}});
            } else {
                APMAnalytics::logInternalEventWithOrigin("auto", name, {{"n", Value(n)}});
            }
        }
        settle();
    }
};

}  // namespace

TEST_F(APMWritePipelineTest, DailyLimitsRefuseTheSurplusLogItOnceAndStartAgainNextDay) {
    start();
    configure({{"measurement.upload.max_events_per_day", "60"},
               {"measurement.upload.max_public_events_per_day", "10"},
               {"measurement.upload.max_error_events_per_day", "2"}});
    LogCapture capture;
    logNumbered("look", 0, 15);
    EXPECT_EQ(rawEventNumbers("look"), (std::vector<long long>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // Each refused public event raises error 16; only two error events fit into the day.
    EXPECT_EQ(errorCodes(), (std::vector<long long>{16, 16}));
    EXPECT_EQ(capture.matching("[I-ACS023057]").size(), 1u);
    EXPECT_EQ(capture.matching("[I-ACS023056]").size(), 1u);
    // Internal events still pass, up to the limit of all events: the refused ones above did not
    // use it up.
    logNumbered("_tick", 0, 60, false);
    const auto ticks = rawEventNumbers("_tick");
    ASSERT_FALSE(ticks.empty());
    EXPECT_LT(ticks.size(), 60u);
    EXPECT_EQ(ticks.back(), static_cast<long long>(ticks.size()) - 1);
    const long long stored = count("SELECT count(*) FROM raw_events");
    EXPECT_EQ(stored, 60);
    EXPECT_EQ(capture.matching("[I-ACS023055]").size(), 1u);

    // A new day has room again.
    Clock::advance(86400);
    logNumbered("look", 100, 101);
    logNumbered("_tick", 100, 101, false);
    EXPECT_EQ(rawEventNumbers("look").back(), 100);
    EXPECT_EQ(rawEventNumbers("_tick").back(), 100);
}

TEST_F(APMWritePipelineTest, OnlyAllowlistedEventsAreStoredAndMarked) {
    LogCapture capture;
    start({{APMAnalytics::kSafelistedEventsKey, Value(Value::Array{Value("purchase"), Value("look")})}});
    APMAnalytics::logEventWithName("look", {{"n", Value(1)}});
    APMAnalytics::logEventWithName("share", {{"n", Value(2)}});
    settle();
    EXPECT_EQ(rawEventValues("look", "va_safelisted"), std::vector<Value>{Value(1LL)});
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = 'share'"), 0);
    EXPECT_TRUE(capture.contains("[I-ACS023174] Event dropped. Reason: not in allowlist."));

    // One invalid name drops the whole list: everything is stored, unmarked.
    restart({{APMAnalytics::kSafelistedEventsKey, Value(Value::Array{Value("purchase"), Value("bad name")})}});
    EXPECT_TRUE(capture.contains("[I-ACS025035]"));
    APMAnalytics::logEventWithName("share", {{"n", Value(3)}});
    settle();
    EXPECT_EQ(rawEventValues("share", "va_safelisted"), std::vector<Value>{Value()});
}

TEST_F(APMWritePipelineTest, ABlocklistedEventIsNotStoredAndReportedOnce) {
    start();
    configure({{"measurement.upload.max_events_per_day", "100000"}}, "banned");
    logNumbered("banned", 0, 1);
    logNumbered("look", 0, 1);
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = 'banned'"), 0);
    EXPECT_EQ(rawEventNumbers("look"), std::vector<long long>{0});
    EXPECT_EQ(errorCodes(), std::vector<long long>{11});
    EXPECT_EQ(rawEventValues("_err", "_ev"), std::vector<Value>{Value("banned")});

    // With the public block list switched on, no error event is raised.
    configure({{"measurement.upload.blacklist_public", "1"}}, "banned");
    logNumbered("banned", 1, 2);
    EXPECT_EQ(errorCodes(), std::vector<long long>{11});
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = 'banned'"), 0);
}

TEST_F(APMWritePipelineTest, EachItemOfAnEventCountsTowardTheDay) {
    start();
    configure({{"measurement.upload.max_events_per_day", "60"}});
    Value::Array items;
    for (const char* id : {"a", "b", "c", "d", "e"}) items.push_back(Value(Value::Dictionary{{"item_id", Value(id)}}));
    APMAnalytics::logEventWithName("view_item_list", {{"items", Value(items)}});
    APMAnalytics::logEventWithName("view_item_list", {{"items", Value(items)}});
    settle();
    ASSERT_EQ(count("SELECT count(*) FROM raw_events WHERE name = 'view_item_list'"), 2);
    logNumbered("_tick", 0, 60, false);
    // Two events of five items each used up twelve of the sixty.
    EXPECT_EQ(count("SELECT count(*) FROM raw_events"), 50);
}
