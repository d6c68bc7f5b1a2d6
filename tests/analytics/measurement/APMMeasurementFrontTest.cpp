// The engine reaches its front only through what the front handed it at creation: its own
// events and error events go to that sink, what it logs is shown to that hub, and the upload on
// leaving the foreground queues behind that door. Here the front is a recorder, and the door of
// the process is never started.
#include "EngineTestSupport.h"

#include "analytics/core/APMEventSink.h"
#include "analytics/measurement/APMMeasurementFront.h"
#include "platform/ui/UIApplication.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

class RecordingFront final : public APMEventSink, public APMEventListenerHub {
public:
    struct Logged {
        std::string origin;
        std::string name;
        Value::Dictionary parameters;
    };

    bool isEnabled() override { return true; }
    void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                    const Value::Dictionary& parameters) override {
        std::lock_guard lock(mutex_);
        logged_.push_back({origin, name, parameters});
    }
    void logInternalEventWithOrigin(const std::string& origin, const std::string& name, double,
                                    const Value::Dictionary& parameters) override {
        logInternalEventWithOrigin(origin, name, parameters);
    }
    void setInternalUserProperty(const Value&, const std::string& name, const std::string&) override {
        std::lock_guard lock(mutex_);
        properties_.push_back(name);
    }
    void writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>&) override { ADD_FAILURE() << "not the front's"; }

    bool hasLogEventListeners() override {
        std::lock_guard lock(mutex_);
        return listening_;
    }
    void notifyEventListeners(const std::shared_ptr<APMEvent>& event) override {
        std::lock_guard lock(mutex_);
        shown_.push_back(event->name());
    }
    void queue(std::function<void()> block) {
        std::lock_guard lock(mutex_);
        queued_.push_back(std::move(block));
    }

    void setListening(bool listening) {
        std::lock_guard lock(mutex_);
        listening_ = listening;
    }
    std::vector<Logged> logged() {
        std::lock_guard lock(mutex_);
        return logged_;
    }
    std::vector<std::string> shown() {
        std::lock_guard lock(mutex_);
        return shown_;
    }
    std::vector<std::function<void()>> takeQueued() {
        std::lock_guard lock(mutex_);
        return std::exchange(queued_, {});
    }
    // The value of the APMValue parameter of the last internal event of that name.
    Value parameter(const std::string& name, const std::string& key) {
        const auto all = logged();
        for (auto it = all.rbegin(); it != all.rend(); ++it) {
            if (it->name != name) continue;
            const Value& value = it->parameters.get(key);
            auto typed = value.isObject() ? value.objectAs<APMValue>() : nullptr;
            return typed ? typed->value() : Value();
        }
        return Value();
    }

private:
    std::mutex mutex_;
    std::vector<Logged> logged_;
    std::vector<std::string> properties_;
    std::vector<std::string> shown_;
    std::vector<std::function<void()>> queued_;
    bool listening_ = false;
};

class APMMeasurementFrontTest : public EngineTest {
protected:
    void TearDown() override {
        EngineTest::TearDown();
        UIApplication::sharedApplication()->reset();
    }
    // The engine as the front's start creates it, handed the recorder.
    void create() {
        APMMeasurement::initializeSharedInstanceWithAppID(
            kAppID, true, false, {},
            APMMeasurementFront{front, front, [front = front](std::function<void()> block) { front->queue(std::move(block)); }});
        settle();
        ASSERT_TRUE(APMMeasurement::hasSharedInstance());
    }
    static bool contains(const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    }

    std::shared_ptr<RecordingFront> front = std::make_shared<RecordingFront>();
};

}  // namespace

TEST_F(APMMeasurementFrontTest, TheEnginesOwnEventsListenersAndQueuedWorkGoToTheFrontThatCreatedIt) {
    // The version of the last launch differs: the start reports the update as its own event.
    APMPersistedConfig::sharedInstance()->setAppVersion("2.0");
    UIApplication::sharedApplication()->becomeActive();
    create();
    EXPECT_EQ(front->parameter("_au", "_pv"), Value("2.0"));
    for (const auto& logged : front->logged()) EXPECT_EQ(logged.origin, "auto") << logged.name;

    // An error the engine finds is an internal "_err" through the same road.
    engine()->setDefaultEventParameters(Value::Dictionary{{"list", Value(Value::Array{Value(1LL)})}});
    settle();
    EXPECT_EQ(front->parameter("_err", "_err"), Value(27LL));

    // Logged events are copied for the hub only while it has listeners; the engine's campaign
    // is shown in any case. Each is written by the engine itself.
    engine()->logEventWithOrigin("app", true, "unheard", {}, kNow, true, false, false, {}, {});
    settle();
    front->setListening(true);
    engine()->logEventWithOrigin("app", true, "heard", {}, kNow, true, false, false, {}, {});
    engine()->handleNonFirstOpenEventURL("gallery://paintings?utm_source=mail&utm_medium=email", kNow);
    settle();
    const auto shown = front->shown();
    EXPECT_FALSE(contains(shown, "unheard"));
    EXPECT_TRUE(contains(shown, "heard"));
    EXPECT_TRUE(contains(shown, "_cmp"));
    const auto stored = rawEventNames();
    EXPECT_TRUE(contains(stored, "unheard"));
    EXPECT_TRUE(contains(stored, "heard"));

    // Leaving the foreground queues the upload behind the door it was handed.
    ASSERT_TRUE(front->takeQueued().empty());
    ASSERT_TRUE(UIApplication::sharedApplication()->resignActive());
    auto queued = front->takeQueued();
    ASSERT_EQ(queued.size(), 1u);
    queued.front()();
    settle();
    EXPECT_TRUE(engine()->hasBackgroundTask());
}

TEST_F(APMMeasurementFrontTest, TheEnginesCreationAndAStorageLimitsReadDoNotWaitForEachOther) {
    // A reader of the storage limits is inside the provider, which asks for the engine as the
    // engine's own provider does, while the engine is being created on another thread (which
    // installs its provider under the shared engine's lock).
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool entered = false, created = false, released = false, giveUp = false;
        bool waitFor(bool Gate::*flag) {
            std::unique_lock lock(mutex);
            return changed.wait_for(lock, std::chrono::seconds(20), [&] { return this->*flag; });
        }
        void set(bool Gate::*flag) {
            {
                std::lock_guard lock(mutex);
                this->*flag = true;
            }
            changed.notify_all();
        }
    };
    auto gate = std::make_shared<Gate>();
    APMDatabase::setLimitsProvider([gate] {
        gate->set(&Gate::entered);
        std::unique_lock lock(gate->mutex);
        // Let go only by the test, which always does.
        gate->changed.wait(lock, [&] { return gate->released; });
        const bool giveUp = gate->giveUp;
        lock.unlock();
        if (!giveUp) (void)APMMeasurement::remoteConfig();
        return APMDatabaseLimits{};
    });
    // Both threads end with this scope, however it ends.
    struct Threads {
        Gate& gate;
        std::thread reader, creator;
        ~Threads() {
            {
                std::lock_guard lock(gate.mutex);
                // Still waiting for the reader: let it out without the engine's lock.
                if (!gate.created) gate.giveUp = true;
            }
            gate.set(&Gate::released);
            if (reader.joinable()) reader.join();
            if (creator.joinable()) creator.join();
        }
    };
    {
        Threads threads{*gate, std::thread([] { (void)APMDatabase::limits(); }), {}};
        ASSERT_TRUE(gate->waitFor(&Gate::entered));
        threads.creator = std::thread([this, gate] {
            APMMeasurement::initializeSharedInstanceWithAppID(
                kAppID, true, false, {},
                APMMeasurementFront{front, front,
                                    [front = front](std::function<void()> block) { front->queue(std::move(block)); }});
            gate->set(&Gate::created);
        });
        EXPECT_TRUE(gate->waitFor(&Gate::created)) << "the engine's creation waits for the limits reader";
    }
    settle();
    EXPECT_TRUE(APMMeasurement::hasSharedInstance());
}
