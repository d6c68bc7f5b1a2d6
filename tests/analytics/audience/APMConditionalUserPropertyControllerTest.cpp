// Conditional user properties: the request checks, properties in force at once or when their
// trigger comes within the time-out, timed out, expired and cleared (also across a restart on
// the same file), re-set while in force, failed writes that leave nothing behind, the
// query's wait, events that find none stored running no statement, and the process's one
// controller.
#include "analytics/audience/APMConditionalUserPropertyController.h"

#include "AudienceContextSupport.h"
#include "analytics/core/APMConditionalUserProperty.h"
#include "analytics/core/APMSqliteStore.h"
#include "analytics/core/APMUserAttribute.h"
#include "platform/dispatch/DispatchQueue.h"
#include "tests/analytics/core/LogCapture.h"
#include "tests/fixtures/AskedAtOnce.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

class APMConditionalUserPropertyControllerTest : public APMDatabaseTestBase {
protected:
    void SetUp() override {
        APMDatabaseTestBase::SetUp();
        context->database_ = database_;
        context->scheduler_ = APMScheduler::initWithWorkerQueueLabel("com.test.cup.worker");
        controller = APMConditionalUserPropertyController::initWithContext(context);
        ASSERT_TRUE(controller);
    }
    void TearDown() override {
        settle();
        controller.reset();
        context->database_.reset();
        APMDatabaseTestBase::TearDown();
    }

    void settle() { context->scheduler_->dispatchSyncOnWorkerQueueBlockID("test", [] {}); }
    template <class F>
    auto onWorker(F&& work) {
        decltype(work()) result{};
        context->scheduler_->dispatchSyncOnWorkerQueueBlockID("test", [&] { result = work(); });
        return result;
    }

    static std::shared_ptr<APMEvent> event(const std::string& name, const Value::Dictionary& parameters = {}) {
        return APMEvent::initWithOrigin("app", false, name, Clock::now(), 0, parameters);
    }
    static std::shared_ptr<APMConditionalUserProperty> property(const Value& value, const std::string& trigger = "",
                                                                double timeout = 60, double timeToLive = 3600) {
        auto made = APMConditionalUserProperty::make();
        made->setOrigin("frc");
        made->setValue(value.isNull() ? nullptr : APMValue::valueFromObject(value));
        made->setTriggerEventName(trigger);
        made->setTriggerTimeout(timeout);
        made->setTimeToLive(timeToLive);
        made->setTriggeredEvent(event("cup_triggered", {{"step", Value(APMValue::initWithInt64(1))}}));
        made->setTimedOutEvent(event("cup_timed_out"));
        made->setExpiredEvent(event("cup_expired"));
        return made;
    }
    void set(const std::shared_ptr<APMConditionalUserProperty>& made, const std::string& name = "plan") {
        controller->setConditionalUserProperty(made, name);
        settle();
    }
    // The events a logged event brings: timed-out and expired ones go to the sink, triggered ones come back.
    std::vector<std::string> logEvent(const std::string& name) {
        auto triggered = onWorker([&] { return controller->processEventOnWorkerQueue(event(name)); });
        std::vector<std::string> names;
        if (!triggered) return {"<abandoned>"};
        for (const auto& made : *triggered) names.push_back(made->name());
        return names;
    }
    std::vector<std::string> written() {
        std::lock_guard lock(context->sink->mutex);
        std::vector<std::string> names;
        for (const auto& made : context->sink->written) names.push_back(made->name());
        context->sink->written.clear();
        return names;
    }
    std::string userProperty(const std::string& name = "plan") {
        auto stored = onWorker([&] { return database_->userAttributeWithName(name, nullptr); });
        return stored && stored->value() ? stored->value()->description() : "";
    }
    double userPropertySetTime(const std::string& name = "plan") {
        auto stored = onWorker([&] { return database_->userAttributeWithName(name, nullptr); });
        return stored ? stored->lastSetTimestamp() : -1;
    }
    std::shared_ptr<APMConditionalUserProperty> stored(const std::string& name = "plan") {
        return onWorker([&] { return database_->conditionalUserPropertyWithName(name, nullptr); });
    }

    std::shared_ptr<TestAudienceContext> context = std::make_shared<TestAudienceContext>();
    std::shared_ptr<APMConditionalUserPropertyController> controller;
};

}  // namespace

TEST_F(APMConditionalUserPropertyControllerTest, RequestsAreCheckedBeforeTheyAreQueued) {
    monitorSample(true);
    auto made = property(Value("gold"));
    made->setName("plan");
    for (double good : {0.001, 15'552'000.0}) {
        made->setTriggerTimeout(good);
        EXPECT_TRUE(APMConditionalUserPropertyCheck(*made)) << good;
    }
    for (double bad : {0.0009, 15'552'001.0}) {
        made->setTriggerTimeout(bad);
        EXPECT_FALSE(APMConditionalUserPropertyCheck(*made)) << bad;
    }
    EXPECT_TRUE(sampled("Invalid conditional user property trigger timeout"));
    made->setTriggerTimeout(60);
    for (double bad : {0.0009, 15'552'001.0}) {
        made->setTimeToLive(bad);
        EXPECT_FALSE(APMConditionalUserPropertyCheck(*made)) << bad;
    }
    EXPECT_TRUE(sampled("Invalid conditional user property time to live"));
    made->setTimeToLive(15'552'000);
    made->setOrigin("");
    EXPECT_FALSE(APMConditionalUserPropertyCheck(*made));

    // A refused request never reaches the database.
    set(made);
    EXPECT_FALSE(stored());
    set(nullptr);
    EXPECT_TRUE(sampled("Cannot set nil conditional user property"));
}

TEST_F(APMConditionalUserPropertyControllerTest, WithoutATriggerThePropertyIsInForceAtOnce) {
    set(property(Value("gold")));
    auto row = stored();
    ASSERT_TRUE(row);
    EXPECT_TRUE(row->isActive());
    EXPECT_EQ(row->triggeredTimestamp(), kNow);
    EXPECT_EQ(userProperty(), "gold");
    EXPECT_EQ(userPropertySetTime(), kNow);
    // Its triggered event is written after the transaction, in the property's origin.
    std::lock_guard lock(context->sink->mutex);
    ASSERT_EQ(context->sink->written.size(), 1u);
    EXPECT_EQ(context->sink->written[0]->name(), "cup_triggered");
    EXPECT_EQ(context->sink->written[0]->origin(), "frc");
    EXPECT_EQ(context->sink->written[0]->timestamp(), kNow);
}

TEST_F(APMConditionalUserPropertyControllerTest, ATriggerWithinTheTimeOutActivatesItAndOneAfterItIsTooLate) {
    set(property(Value("gold"), "purchase", 60));
    EXPECT_FALSE(stored()->isActive());
    EXPECT_EQ(userProperty(), "");
    EXPECT_TRUE(written().empty());
    Clock::advance(30);
    EXPECT_EQ(logEvent("level_up"), std::vector<std::string>{});
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{"cup_triggered"});
    EXPECT_TRUE(stored()->isActive());
    EXPECT_EQ(stored()->triggeredTimestamp(), kNow + 30);
    EXPECT_EQ(userProperty(), "gold");

    // Another one, 61 s later: timed out, its event written, and nothing triggered.
    set(property(Value(5LL), "purchase", 60), "tier");
    Clock::advance(61);
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{});
    EXPECT_EQ(written(), std::vector<std::string>{"cup_timed_out"});
    EXPECT_FALSE(stored("tier"));
    EXPECT_EQ(userProperty("tier"), "");
}

TEST_F(APMConditionalUserPropertyControllerTest, EventsFindingNoneStoredRunNoStatementYetOneSetLaterStillActs) {
    std::atomic<int> statements{0};
    sqlite3* handle = database_->sqliteStore()->sqliteHandle();
    onWorker([&] {
        return sqlite3_trace_v2(
            handle, SQLITE_TRACE_STMT,
            [](unsigned, void* count, void*, void*) {
                ++*static_cast<std::atomic<int>*>(count);
                return 0;
            },
            &statements);
    });
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{});
    EXPECT_LE(statements.load(), 1) << "one question, no transaction";
    const int asked = statements.load();
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{});
    EXPECT_EQ(logEvent("level_up"), std::vector<std::string>{});
    EXPECT_EQ(statements.load(), asked) << "the answer is kept while the table stays as it was";

    // One stored afterwards is seen by the next event, and so is its time-out.
    set(property(Value("gold"), "purchase", 60));
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{"cup_triggered"});
    EXPECT_EQ(userProperty(), "gold");
    set(property(Value(5LL), "purchase", 60), "tier");
    Clock::advance(61);
    EXPECT_EQ(logEvent("level_up"), std::vector<std::string>{});
    EXPECT_EQ(written(), std::vector<std::string>{"cup_timed_out"});
    EXPECT_FALSE(stored("tier"));

    // Once the last one is gone, events go back to running nothing.
    controller->clearConditionalUserPropertyWithClearEvent(event("cleared"), "plan");
    settle();
    EXPECT_FALSE(stored());
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{});
    const int again = statements.load();
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{});
    EXPECT_EQ(statements.load(), again);
    onWorker([&] { return sqlite3_trace_v2(handle, 0, nullptr, nullptr); });
}

TEST_F(APMConditionalUserPropertyControllerTest, SettingItAgainWhileInForceTakesTheValueAndKeepsTheTrigger) {
    set(property(Value("gold"), "", 60, 100));
    (void)written();
    Clock::advance(50);
    auto again = property(Value("platinum"), "other_event", 60, 100);
    again->setOrigin("fiam");
    set(again);
    auto row = stored();
    ASSERT_TRUE(row);
    EXPECT_TRUE(row->isActive());
    EXPECT_EQ(row->origin(), "frc");
    EXPECT_EQ(row->triggerEventName(), "");
    EXPECT_EQ(row->triggeredTimestamp(), kNow);
    // The user property follows the new value at once, set at the first triggered time.
    EXPECT_EQ(userProperty(), "platinum");
    EXPECT_EQ(userPropertySetTime(), kNow);
    EXPECT_TRUE(written().empty());  // not newly in force: no triggered event

    // Expiry counts from the first trigger, and is only noticed when an event is logged.
    Clock::advance(51);
    EXPECT_EQ(userProperty(), "platinum");
    EXPECT_EQ(logEvent("anything"), std::vector<std::string>{});
    EXPECT_EQ(written(), std::vector<std::string>{"cup_expired"});
    EXPECT_FALSE(stored());
    EXPECT_EQ(userProperty(), "");
}

TEST_F(APMConditionalUserPropertyControllerTest, ClearingRemovesTheRowAndOnlyAnActivesUserProperty) {
    LogCapture capture;
    controller->clearConditionalUserPropertyWithClearEvent(event("cleared"), "plan");
    settle();
    EXPECT_TRUE(capture.contains("[I-ACS011018]"));
    EXPECT_TRUE(written().empty());

    // An inactive one: the row goes, a user property of that name set otherwise stays.
    onWorker([&] {
        return database_->updateUserAttribute(APMUserAttribute::initWithOrigin("app", "plan", APMValue::initWithString(Value("own")), kNow),
                                              nullptr);
    });
    set(property(Value("gold"), "purchase"));
    controller->clearConditionalUserPropertyWithClearEvent(event("cleared"), "plan");
    settle();
    EXPECT_FALSE(stored());
    EXPECT_EQ(userProperty(), "own");
    EXPECT_EQ(written(), std::vector<std::string>{"cleared"});

    // An active one takes its user property along; a set request without value removes too,
    // logging its own expired event.
    set(property(Value("gold")));
    (void)written();
    set(property(Value()));
    EXPECT_FALSE(stored());
    EXPECT_EQ(userProperty(), "");
    EXPECT_EQ(written(), std::vector<std::string>{"cup_expired"});
}

TEST_F(APMConditionalUserPropertyControllerTest, PropertiesLiveOnAcrossARestartOfTheEngine) {
    set(property(Value("gold"), "purchase", 600, 120));
    set(property(Value("silver"), "level_up", 60, 120), "tier");
    // A new process on the same file: a new database object and controller.
    settle();
    controller.reset();
    context->database_.reset();
    database_.reset();
    database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
    ASSERT_TRUE(database_);
    context->database_ = database_;
    controller = APMConditionalUserPropertyController::initWithContext(context);

    Clock::advance(100);
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{"cup_triggered"});
    EXPECT_EQ(written(), std::vector<std::string>{"cup_timed_out"});  // "tier" waited too long
    EXPECT_EQ(userProperty(), "gold");
    Clock::advance(121);
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{});
    EXPECT_EQ(written(), std::vector<std::string>{"cup_expired"});
    EXPECT_EQ(userProperty(), "");
}

TEST_F(APMConditionalUserPropertyControllerTest, AFailedWriteLeavesNothingBehindAndWritesNoEvent) {
    set(property(Value("gold"), "purchase"));
    ASSERT_TRUE(onWorker([&] { return store().executeSQL("ALTER TABLE user_attributes RENAME TO user_attributes_away", nullptr); }));
    LogCapture capture;
    // The trigger cannot set the user property: the check is abandoned and the row stays waiting.
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{"<abandoned>"});
    EXPECT_TRUE(capture.contains("[I-ACS010009]"));
    EXPECT_FALSE(stored()->isActive());
    // A property in force at once cannot set its user property: no row, no event.
    set(property(Value("silver")), "tier");
    EXPECT_TRUE(capture.contains("[I-ACS011011]"));
    EXPECT_FALSE(stored("tier"));
    EXPECT_TRUE(written().empty());

    ASSERT_TRUE(onWorker([&] { return store().executeSQL("ALTER TABLE user_attributes_away RENAME TO user_attributes", nullptr); }));
    EXPECT_EQ(logEvent("purchase"), std::vector<std::string>{"cup_triggered"});
}

TEST_F(APMConditionalUserPropertyControllerTest, TheQueryAnswersFromAnyThreadAndGivesUpInTime) {
    set(property(Value("gold"), "purchase"), "plan_a");
    set(property(Value("gold"), "purchase"), "plan_b");
    set(property(Value("gold"), "purchase"), "other");
    auto found = controller->conditionalUserPropertiesWithNamePrefix(std::string("plan_"), std::nullopt);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->size(), 2u);
    EXPECT_EQ(controller->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::string("fiam"))->size(), 0u);
    // From the worker queue itself it answers at once instead of waiting for itself.
    auto inline_ = onWorker([&] { return controller->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt); });
    ASSERT_TRUE(inline_);
    EXPECT_EQ(inline_->size(), 3u);

    // Collection off: nothing, said so.
    LogCapture capture;
    context->sink->enabled = false;
    EXPECT_FALSE(controller->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt));
    EXPECT_TRUE(capture.contains("[I-ACS011005]"));
    context->sink->enabled = true;

    // A worker queue that does not answer in time: nothing, and the late answer harms no one.
    Clock::setReal();
    controller->setQueryTimeout(0.05);
    std::promise<void> release;
    auto busy = release.get_future().share();
    context->scheduler_->scheduleOnWorkerQueueBlockID("test", [busy] { busy.wait(); });
    EXPECT_FALSE(controller->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt));
    controller.reset();
    release.set_value();
    settle();
}

// One controller per process, made once however many threads ask at the same time, on the
// context the engine hands in: none before it did, and the first one stays.
TEST_F(APMConditionalUserPropertyControllerTest, TheProcessHasOneControllerOnTheContextTheEngineHandsIn) {
    EXPECT_EQ(APMConditionalUserPropertyController::sharedInstance(), nullptr);
    APMConditionalUserPropertyController::setSharedContext(context);
    const auto seen = askedAtOnce([] { return APMConditionalUserPropertyController::sharedInstance(); });
    auto shared = seen[0];
    ASSERT_NE(shared, nullptr);
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], shared) << i;
    EXPECT_NE(shared, controller);
    // It works on that context's database.
    controller = shared;
    set(property(Value("gold")));
    EXPECT_EQ(userProperty(), "gold");

    APMConditionalUserPropertyController::setSharedContext(std::make_shared<TestAudienceContext>());
    EXPECT_EQ(APMConditionalUserPropertyController::sharedInstance(), shared);
    // A new process has none until its engine hands its context in.
    APMConditionalUserPropertyController::resetSharedInstance();
    EXPECT_EQ(APMConditionalUserPropertyController::sharedInstance(), nullptr);
}
