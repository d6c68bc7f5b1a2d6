// The engine with its audiences and reporters, aimed at the measurement service on 127.0.0.1:
// audience definitions arrive with the configuration, are evaluated over the events and user
// properties bundled, and their results reach the service in the uploaded batches; sessions,
// engagement and screen views across background and foreground arrive as the service decodes them.
#include "DeliveryTestSupport.h"

#include "analytics/reporters/APMScreenViewReporter.h"
#include "platform/ui/UIApplication.h"
#include "tests/analytics/audience/AudienceTestSupport.h"

namespace {

using namespace audience_test;

class APMAudienceAndSessionDeliveryTest : public DeliveryTest {
protected:
    void TearDown() override {
        DeliveryTest::TearDown();
        UIApplication::sharedApplication()->reset();
    }
    std::vector<MeasurementService::Event> named(const std::string& name) const {
        std::vector<MeasurementService::Event> found;
        for (const auto& event : service.events()) {
            if (event.name == name) found.push_back(event);
        }
        return found;
    }
    std::vector<MeasurementService::AudienceResult> audienceResults() const {
        std::vector<MeasurementService::AudienceResult> all;
        for (const auto& upload : service.uploads()) {
            if (!upload.accepted) continue;
            all.insert(all.end(), upload.batch.audiences.begin(), upload.batch.audiences.end());
        }
        return all;
    }
    static std::int64_t integer(const MeasurementService::Event& event, const std::string& name) {
        const Value& value = event.parameters.get(name);
        return value.isNumber() ? value.longLongValue() : -1;
    }
    static std::string text(const MeasurementService::Event& event, const std::string& name) {
        const Value& value = event.parameters.get(name);
        return value.isString() ? value.stringValue() : std::string();
    }
    std::string traffic() const {
        std::string lines;
        const auto uploads = service.uploads();
        for (std::size_t i = 0; i < uploads.size(); ++i) lines += MeasurementService::summaryLine(i + 1, uploads[i]) + "\n";
        return lines;
    }
};

TEST_F(APMAudienceAndSessionDeliveryTest, AudienceResultsTravelInTheUploadedBundles) {
    // Audience 7: a painting was opened (filter 1) and the medium is oil (filter 2). Audience 8
    // asks for an event that never comes. Audience 9 is refused: its filter has no id.
    auto config = makeMeasurementConfig({}, 1, kAppID);
    Value::Array audiences{
        Value(audience(7, {eventFilter(1, "painting_opened")},
                       {propertyFilter(2, "medium", filter(nullptr, stringFilter(5, "oil")))})),
        Value(audience(8, {eventFilter(1, "never_logged")})),
        Value(audience(9, {eventFilter(std::nullopt, "painting_opened")})),
        // Audiences 10 and 11 read the event's parameters: its title is "Irises", not "Sunflowers".
        Value(audience(10, {eventFilter(1, "painting_opened",
                                        {parameterFilter("title", nullptr, stringFilter(5, "Irises"))})})),
        Value(audience(11, {eventFilter(1, "painting_opened",
                                        {parameterFilter("title", nullptr, stringFilter(5, "Sunflowers"))})})),
    };
    APMPBMessageSetArray(config, APMPBMeasurementConfig::kAudiences, audiences);
    service.setConfiguration(kAppID, config);

    start();
    uploadWhileDue();
    ASSERT_FALSE(service.configFetches().empty());
    // The definitions were stored under their own ids; the refused one is not there.
    EXPECT_EQ(rows("SELECT DISTINCT audience_id FROM event_filters ORDER BY audience_id"),
              (std::vector<std::vector<std::string>>{{"7"}, {"8"}, {"10"}, {"11"}}));

    APMAnalytics::setUserPropertyString(Value("oil"), "medium");
    APMAnalytics::logEventWithName("painting_opened", {{"title", Value("Irises")}});
    settle();
    uploadWhileDue();
    const auto results = audienceResults();
    const auto seven = std::find_if(results.begin(), results.end(), [](const auto& r) { return r.audienceID == 7; });
    ASSERT_NE(seven, results.end()) << traffic();
    ASSERT_FALSE(seven->results.empty());
    // Both filters have an outcome and both are true.
    EXPECT_EQ(seven->status[0] & 0b110u, 0b110u);
    EXPECT_EQ(seven->results[0] & 0b110u, 0b110u);
    EXPECT_TRUE(std::none_of(results.begin(), results.end(), [](const auto& r) { return r.audienceID == 9; }));
    const auto ten = std::find_if(results.begin(), results.end(), [](const auto& r) { return r.audienceID == 10; });
    ASSERT_NE(ten, results.end()) << traffic();
    ASSERT_FALSE(ten->results.empty());
    EXPECT_EQ(ten->results[0] & 0b10u, 0b10u);
    for (const auto& result : results) {
        if (result.audienceID != 11) continue;
        EXPECT_TRUE(result.results.empty() || (result.results[0] & 0b10u) == 0);
    }
    // The results were rolled over: what the service got was stored as the previous state.
    EXPECT_GE(count("SELECT count(*) FROM audience_filter_values WHERE audience_id = 7"), 1);
}

TEST_F(APMAudienceAndSessionDeliveryTest, SessionsEngagementAndScreenViewsAcrossBackgroundAndForeground) {
    auto application = UIApplication::sharedApplication();
    start();
    ASSERT_TRUE(application->becomeActive());
    settle();
    APMAnalytics::logEventWithName("screen_view", {{"screen_name", Value("Gallery")}});
    settle();
    Clock::advance(120);
    application->enterBackground();
    settle();
    // Away longer than the session time-out: the return starts the second session.
    Clock::advance(2000);
    application->enterForeground();
    settle();
    uploadWhileDue();

    const auto starts = named("_s");
    ASSERT_EQ(starts.size(), 2u) << traffic();
    EXPECT_EQ(integer(starts[0], "_sno"), 1);
    EXPECT_EQ(integer(starts[1], "_sno"), 2);
    EXPECT_EQ(integer(starts[1], "_sid"), static_cast<std::int64_t>(kNow + 2120));
    const auto views = named("_vs");
    ASSERT_EQ(views.size(), 1u) << traffic();
    EXPECT_EQ(text(views[0], "_sn"), "Gallery");
    // The instance id starts at a random value: any number will do.
    EXPECT_TRUE(views[0].parameters.get("_si").isNumber());
    // The engagement of the two minutes in the foreground, on the screen the person was on.
    const auto engagements = named("_e");
    const auto twoMinutes = std::find_if(engagements.begin(), engagements.end(),
                                         [](const auto& event) { return integer(event, "_et") == 120000; });
    ASSERT_NE(twoMinutes, engagements.end()) << traffic();
    EXPECT_EQ(text(*twoMinutes, "_sn"), "Gallery");
}

}  // namespace
