// The connector the sibling libraries reach through the platform core: its filters, events and
// user properties into the database of a started engine, listeners on the main queue, the
// user-property limit query, and conditional user properties handed to the controller.
#include "EngineTestSupport.h"

#include "analytics/core/APMConditionalUserProperty.h"
#include "analytics/measurement/DUROrezuriveConnector.h"
#include "analytics/measurement/VODEdurediroZidor.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/services/RURAdi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

TEST(VODEdurediroZidorTest, OriginsEventsAndParametersOfTheSiblings) {
    EXPECT_FALSE(VODEdurediroZidor::isOriginAllowed("app"));
    EXPECT_FALSE(VODEdurediroZidor::isOriginAllowed("auto"));
    EXPECT_FALSE(VODEdurediroZidor::isOriginAllowed("am"));
    EXPECT_TRUE(VODEdurediroZidor::isOriginAllowed("fcm"));
    EXPECT_TRUE(VODEdurediroZidor::isAppOrigin("app"));
    EXPECT_TRUE(VODEdurediroZidor::isAppOrigin("app+gtm"));
    EXPECT_FALSE(VODEdurediroZidor::isAppOrigin("apple"));
    EXPECT_TRUE(VODEdurediroZidor::isListenerOriginAllowed("fiam"));
    EXPECT_FALSE(VODEdurediroZidor::isListenerOriginAllowed("fcm"));
    EXPECT_FALSE(VODEdurediroZidor::isEventNameAllowedForListeners("_exp_set"));
    EXPECT_FALSE(VODEdurediroZidor::isEventNameAllowedForListeners("campaign_details"));
    EXPECT_TRUE(VODEdurediroZidor::isEventNameAllowedForListeners("_cmp"));
    EXPECT_FALSE(VODEdurediroZidor::shouldLogEventWithName("", {}));
    EXPECT_FALSE(VODEdurediroZidor::shouldLogEventWithName("_s", {}));
    EXPECT_FALSE(VODEdurediroZidor::shouldLogEventWithName("_cmp", {{"_dbg", Value(1)}}));
    EXPECT_TRUE(VODEdurediroZidor::shouldLogEventWithName("_cmp", {{"source", Value("x")}}));
}

TEST(VODEdurediroZidorTest, UserPropertiesTheSiblingsMaySetAndSee) {
    EXPECT_TRUE(VODEdurediroZidor::isUserPropertyAllowed("_ln", "fiam"));
    EXPECT_TRUE(VODEdurediroZidor::isUserPropertyAllowed("_ln", "fcm"));
    EXPECT_FALSE(VODEdurediroZidor::isUserPropertyAllowed("_ln", "frc"));
    EXPECT_FALSE(VODEdurediroZidor::isUserPropertyAllowed("_fot", "fcm"));
    EXPECT_FALSE(VODEdurediroZidor::isUserPropertyAllowed("_ltv_EUR", "fcm"));
    EXPECT_TRUE(VODEdurediroZidor::isUserPropertyAllowed("_ltv_eur", "fcm"));
    EXPECT_FALSE(VODEdurediroZidor::isUserPropertyAllowed("_cc3", "fiam"));
    EXPECT_TRUE(VODEdurediroZidor::isUserPropertyAllowed("_cc6", "fiam"));
    EXPECT_FALSE(VODEdurediroZidor::isUserPropertyAllowed("", "fiam"));
    EXPECT_TRUE(VODEdurediroZidor::isUserPropertyAllowedForQuery("_fot"));
    EXPECT_TRUE(VODEdurediroZidor::isUserPropertyAllowedForQuery("level"));
    EXPECT_FALSE(VODEdurediroZidor::isUserPropertyAllowedForQuery("_lte"));
    EXPECT_FALSE(VODEdurediroZidor::isUserPropertyAllowedForQuery(""));
}

// A controller that records what it is asked and answers from a list.
class RecordingController : public DUROrezuriveConnector::ConditionalUserProperties {
public:
    void setConditionalUserProperty(const std::shared_ptr<APMConditionalUserProperty>& property,
                                    const std::string& name) override {
        set.emplace_back(property, name);
    }
    void clearConditionalUserPropertyWithClearEvent(const std::shared_ptr<APMEvent>& clearEvent,
                                                    const std::string& name) override {
        cleared.emplace_back(clearEvent, name);
    }
    std::vector<std::shared_ptr<APMConditionalUserProperty>> conditionalUserPropertiesWithNamePrefix(
        const std::string& prefix, const std::string& origin) override {
        asked.emplace_back(prefix, origin);
        return stored;
    }
    std::vector<std::pair<std::shared_ptr<APMConditionalUserProperty>, std::string>> set;
    std::vector<std::pair<std::shared_ptr<APMEvent>, std::string>> cleared;
    std::vector<std::pair<std::string, std::string>> asked;
    std::vector<std::shared_ptr<APMConditionalUserProperty>> stored;
};

class RecordingListener : public DUROrezuriveInteropListener {
public:
    void messageTriggered(const std::string& name, const Value::Dictionary& parameters) override {
        std::lock_guard lock(mutex);
        messages.emplace_back(name, parameters);
    }
    std::vector<std::string> names() {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const auto& [name, parameters] : messages) out.push_back(name);
        return out;
    }
    std::mutex mutex;
    std::vector<std::pair<std::string, Value::Dictionary>> messages;
};

class DUROrezuriveConnectorTest : public EngineTest {
protected:
    void TearDown() override {
        connector.reset();
        DUROrezuriveConnector::setConditionalUserPropertyController(nullptr);
        RURAdi::reset();
        EngineTest::TearDown();
    }
    // The main queue's deliveries included.
    void deliver() {
        settle();
        DUROrezuriveConnector::queue()->sync([] {});
        (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0);  // runs what comes in meanwhile
        settle();
    }
    std::shared_ptr<DUROrezuriveConnector> connector = std::make_shared<DUROrezuriveConnector>();
};

TEST_F(DUROrezuriveConnectorTest, TheLibraryJoinsThePlatformCoreAndServesTheInteropProtocol) {
    const auto libraries = RURAdi::registeredLibraries();
    EXPECT_NE(std::find(libraries.begin(), libraries.end(), std::make_pair(std::string("vude-dozuzudov"),
                                                                            std::string("9.0.0"))),
              libraries.end());
    RURAdi::configureWithOptions(RUROptions::initWithDictionary({{"VIZUDI_APP_ID", Value(kAppID)}}));
    settle();
    auto component = RURAdi::defaultApp()->componentForProtocol(DUROrezuriveInterop::kProtocolName);
    EXPECT_NE(std::dynamic_pointer_cast<DUROrezuriveInterop>(component), nullptr);
}

TEST_F(DUROrezuriveConnectorTest, SiblingEventsAreStoredUnlessTheyForgeTheEnginesOwn) {
    start();
    connector->logEventWithOrigin("fcm", "_cmp", {{"source", Value("push")}});
    connector->logEventWithOrigin("clx", "_ae", {});
    connector->logEventWithOrigin("app", "forged", {});
    connector->logEventWithOrigin("auto", "forged", {});
    connector->logEventWithOrigin("fcm", "_s", {});
    connector->logEventWithOrigin("fcm", "debugged", {{"_dbg", Value(1)}});
    settle();
    const auto names = rawEventNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "_cmp"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "_ae"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "forged"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "debugged"), 0);
    EXPECT_EQ(rawEventValues("_cmp", "_cis"), std::vector<Value>{Value("fcm_integration")});
    EXPECT_EQ(rawEventValues("_cmp", "_o"), std::vector<Value>{Value("fcm")});
    EXPECT_EQ(rawEventValues("_ae", "_r"), std::vector<Value>{Value(1LL)});
}

TEST_F(DUROrezuriveConnectorTest, SiblingUserPropertiesByOriginAndTheQueryShowsOnlyVisibleOnes) {
    start();
    connector->setUserPropertyWithOrigin("fiam", "_ln", Value("campaign-1"));
    connector->setUserPropertyWithOrigin("frc", "_ln", Value("campaign-2"));
    connector->setUserPropertyWithOrigin("fcm", "_ltv_USD", Value(5));
    connector->setUserPropertyWithOrigin("app", "level", Value("forged"));
    connector->setUserPropertyWithOrigin("fcm", "topic", Value("news"));
    settle();
    EXPECT_EQ(rows("SELECT origin, value FROM user_attributes WHERE name = '_ln'"),
              (std::vector<std::vector<std::string>>{{"fiam", "campaign-1"}}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM user_attributes WHERE name = '_ltv_USD'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM user_attributes WHERE name = 'level'"), 0);

    std::promise<Value::Dictionary> answer;
    connector->getUserPropertiesWithCallback([&](const Value::Dictionary& found) { answer.set_value(found); });
    auto future = answer.get_future();
    while (future.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) deliver();
    const Value::Dictionary found = future.get();
    EXPECT_TRUE(found.contains("topic"));
    EXPECT_TRUE(found.contains("_fot"));
    EXPECT_FALSE(found.contains("_ln"));
    EXPECT_FALSE(found.contains("_fi"));
}

TEST_F(DUROrezuriveConnectorTest, ListenersHearTheirOriginAndTheApplicationButNoHiddenEvent) {
    start();
    auto inApp = std::make_shared<RecordingListener>();
    auto crash = std::make_shared<RecordingListener>();
    connector->registerAnalyticsListener(inApp, "fiam");
    connector->registerAnalyticsListener(crash, "crash");
    connector->registerAnalyticsListener(std::make_shared<RecordingListener>(), "fcm");  // not allowed
    connector->logEventWithOrigin("fiam", "shown", {{"id", Value("m1")}});
    connector->logEventWithOrigin("fiam", "_exp_set", {});
    connector->logEventWithOrigin("fcm", "received", {});
    APMAnalytics::logEventWithName("select_item", {{"item_id", Value("p1")}});
    deliver();
    EXPECT_EQ(inApp->names(), (std::vector<std::string>{"shown", "select_item"}));
    EXPECT_EQ(crash->names(), (std::vector<std::string>{"select_item"}));
    EXPECT_EQ(inApp->messages[0].second.get("id"), Value("m1"));

    // Once the last listener is gone, nothing is delivered and the door has no listener left.
    connector->unregisterAnalyticsListenerWithOrigin("fiam");
    connector->unregisterAnalyticsListenerWithOrigin("crash");
    settle();
    EXPECT_FALSE(APMAnalytics::hasLogEventListeners());
    connector->logEventWithOrigin("fiam", "shown", {});
    deliver();
    EXPECT_EQ(inApp->names().size(), 2u);
}

TEST_F(DUROrezuriveConnectorTest, ListenersComeAndGoOnManyThreadsWhileEventsFlow) {
    start();
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    const std::vector<std::string> origins = {"fiam", "crash", "clx"};
    for (const std::string& origin : origins) {
        threads.emplace_back([&, origin] {
            auto listener = std::make_shared<RecordingListener>();
            for (int i = 0; i < 300; ++i) {
                connector->registerAnalyticsListener(listener, origin);
                connector->unregisterAnalyticsListenerWithOrigin(origin);
            }
        });
    }
    std::thread logger([&] {
        while (!stop) APMAnalytics::logEventWithName("tick", {});
    });
    for (auto& thread : threads) thread.join();
    stop = true;
    logger.join();
    auto last = std::make_shared<RecordingListener>();
    connector->registerAnalyticsListener(last, "clx");
    APMAnalytics::logEventWithName("after", {});
    deliver();
    const auto names = last->names();
    EXPECT_NE(std::find(names.begin(), names.end(), "after"), names.end());
}

TEST_F(DUROrezuriveConnectorTest, TheUserPropertyLimitIsAnsweredOnTheConnectorQueueToo) {
    // Before the start no answer comes: 0 once the wait's ten seconds have passed.
    std::atomic<std::int32_t> early{-1};
    std::thread asking([&] { early = connector->maxUserProperties("fcm"); });
    while (early == -1) Clock::advance(1);
    asking.join();
    EXPECT_EQ(early, 0);

    start();
    EXPECT_EQ(connector->maxUserProperties("fcm"), APMMeasurement::kMaxInternalUserPropertiesPerOrigin);
    std::promise<std::int32_t> onQueue;
    DUROrezuriveConnector::queue()->async([&] { onQueue.set_value(connector->maxUserProperties("fiam")); });
    auto future = onQueue.get_future();
    // Answered without the clock moving: the answer does not wait behind its own question.
    ASSERT_EQ(future.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(future.get(), APMMeasurement::kMaxInternalUserPropertiesPerOrigin);
}

TEST_F(DUROrezuriveConnectorTest, ConditionalUserPropertiesGoToTheControllerByName) {
    auto controller = std::make_shared<RecordingController>();
    // Without a controller nothing is asked of anyone.
    connector->clearConditionalUserProperty("promo", "fiam", "_cc", {{"a", Value(1)}});
    EXPECT_TRUE(connector->conditionalUserProperties("fiam", "pro").empty());
    DUROrezuriveConnector::setConditionalUserPropertyController(controller);

    connector->setConditionalUserProperty(
        {{"name", Value("promo")},
         {"origin", Value("fiam")},
         {"value", Value("gold")},
         {"triggerEventName", Value("purchase")},
         {"triggerTimeout", Value(60)},
         {"timeToLive", Value(3600.5)},
         {"creationTimestamp", Value(kNow)},
         {"triggeredEvent",
          Value(Value::Dictionary{{"origin", Value("fiam")}, {"name", Value("_ct")}, {"timestamp", Value(kNow - 5)}})}});
    connector->setConditionalUserProperty({});
    ASSERT_EQ(controller->set.size(), 1u);
    const auto& [property, name] = controller->set[0];
    EXPECT_EQ(name, "promo");
    EXPECT_EQ(property->origin(), "fiam");
    EXPECT_EQ(*property->value()->stringValue(), "gold");
    EXPECT_EQ(property->triggerEventName(), "purchase");
    EXPECT_EQ(property->triggerTimeout(), 60);
    EXPECT_EQ(property->timeToLive(), 3600.5);
    EXPECT_EQ(property->creationTimestamp(), kNow);
    ASSERT_TRUE(property->triggeredEvent());
    EXPECT_EQ(property->triggeredEvent()->name(), "_ct");
    EXPECT_EQ(property->triggeredEvent()->timestamp(), kNow - 5);

    // The named property is cleared, and its clear event carries every parameter given.
    connector->clearConditionalUserProperty("promo", "fiam", "_cc", {{"b", Value("x")}, {"a", Value(1)}});
    ASSERT_EQ(controller->cleared.size(), 1u);
    EXPECT_EQ(controller->cleared[0].second, "promo");
    ASSERT_TRUE(controller->cleared[0].first);
    EXPECT_EQ(controller->cleared[0].first->name(), "_cc");
    EXPECT_TRUE(controller->cleared[0].first->parameters().contains("a"));
    EXPECT_TRUE(controller->cleared[0].first->parameters().contains("b"));
    // Without parameters it is still cleared.
    connector->clearConditionalUserProperty("other", "fiam", "_cc", {});
    ASSERT_EQ(controller->cleared.size(), 2u);
    EXPECT_EQ(controller->cleared[1].second, "other");

    auto text = APMConditionalUserProperty::make();
    text->setName("promo");
    text->setValue(APMValue::initWithString(Value("gold")));
    auto number = APMConditionalUserProperty::make();
    number->setName("count");
    number->setValue(APMValue::initWithInt64(3));
    controller->stored = {text, number};
    const Value::Array answer = connector->conditionalUserProperties("fiam", "pro");
    EXPECT_EQ(controller->asked, (std::vector<std::pair<std::string, std::string>>{{"pro", "fiam"}}));
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].dictionary().get("name"), Value("promo"));
    EXPECT_EQ(answer[0].dictionary().get("value"), Value("gold"));
}

}  // namespace
