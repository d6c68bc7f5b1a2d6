// Search-ads attribution on the manual clock: the first request at once, a day between
// requests, at most ten per installation, the answers that settle it (attributed or not) and
// those that only postpone it, the campaign event, and answers that arrive on another thread.
#include "ReporterTestSupport.h"

#include "analytics/core/APMScheduler.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "platform/adsupport/ADClient.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

constexpr double kAttributionStart = 1'750'000'000;
constexpr double kOneDay = 86400;
constexpr std::int64_t kFirstOpenMillis = 1'749'990'000'123;

class APMSearchAdReporterTest : public testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(kAttributionStart);
        context->workerScheduler = APMScheduler::initWithWorkerQueueLabel("search-ads worker");
        context->persisted->setFirstOpenTimestampMilliseconds(kFirstOpenMillis);
        ClassRegistry::registerClass(APMSearchAdReporter::kClientClassName, [client = client] { return client; });
    }
    void TearDown() override {
        if (reporter) onWorker([&] { reporter.reset(); });
        settle();
        LogCapture::flush();
        ClassRegistry::unregisterClass(APMSearchAdReporter::kClientClassName);
        APMSearchAdReporter::resetAdClientInstance();
        Clock::setReal();
    }
    // Everything handed to the queues (the client's answer included) has run.
    static void settle() { Clock::advance(0); }
    static void advance(double seconds) { Clock::advance(seconds); }
    void onWorker(const std::function<void()>& block) { context->workerScheduler->workerQueue()->sync(block); }
    // A reporter made as the engine makes it, enabled and started.
    void startReporter() {
        onWorker([&] {
            reporter = APMSearchAdReporter::initWithContext(context);
            ASSERT_TRUE(reporter);
            reporter->setSearchAdReporterEnabled(true);
            reporter->start();
        });
        settle();
    }
    std::shared_ptr<APMSearchAdReporter> makeReporter() {
        std::shared_ptr<APMSearchAdReporter> made;
        onWorker([&] { made = APMSearchAdReporter::initWithContext(context); });
        return made;
    }
    // Levels that are never printed go to the monitor's sample, by way of its queue.
    static bool sampledNow(const std::string& message) {
        LogCapture::flush();
        return sampled(message);
    }
    std::vector<std::shared_ptr<APMEvent>> campaigns() { return eventsNamed(*context->sink, "_cmp"); }

    std::shared_ptr<TestReporterContext> context = std::make_shared<TestReporterContext>();
    std::shared_ptr<ADClient> client = std::make_shared<ADClient>();
    std::shared_ptr<APMSearchAdReporter> reporter;
};

}  // namespace

TEST_F(APMSearchAdReporterTest, APlaceholderAnswerIsAskedAgainADayLaterAndAnAttributedOneEndsIt) {
    client->setAnswers({ADClient::placeholderAnswer(), ADClient::attributedAnswer("Spring Gallery", "paintings")});
    startReporter();
    // The first request at once, counted and stamped; the placeholder is not an answer.
    EXPECT_EQ(client->requestCount(), 1u);
    EXPECT_EQ(context->persisted->searchAdRetryCount(), 1);
    EXPECT_EQ(context->persisted->lastSearchAdLookUpTimestamp(), kAttributionStart);
    EXPECT_TRUE(context->persisted->searchAdCampaignValue().isNull());
    EXPECT_TRUE(campaigns().empty());

    advance(kOneDay - 1);
    EXPECT_EQ(client->requestCount(), 1u);
    advance(1);
    EXPECT_EQ(client->requestCount(), 2u);
    EXPECT_EQ(context->persisted->searchAdRetryCount(), 2);
    EXPECT_EQ(context->persisted->lastSearchAdLookUpTimestamp(), kAttributionStart + kOneDay);

    // The attributed answer: one campaign event, settled for good.
    auto found = campaigns();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->origin(), "auto");
    EXPECT_EQ(stringParameter(*found[0], "source"), "Apple");
    EXPECT_EQ(stringParameter(*found[0], "medium"), "search");
    EXPECT_EQ(stringParameter(*found[0], "campaign"), "Spring Gallery");
    EXPECT_EQ(stringParameter(*found[0], "term"), "paintings");
    EXPECT_EQ(intParameter(*found[0], "click_timestamp"), kFirstOpenMillis - 1);
    EXPECT_EQ(context->persisted->searchAdCampaignValue(), Value(true));
    advance(3 * kOneDay);
    EXPECT_EQ(client->requestCount(), 2u);
    onWorker([&] {
        (void)monitorSample(true);
        reporter->scheduleSearchAdReport();
        EXPECT_TRUE(sampledNow("Search Ad Campaign attribution alarm is already canceled"));
    });

    // The next launch makes no reporter.
    LogCapture capture;
    EXPECT_FALSE(makeReporter());
    EXPECT_TRUE(capture.contains("Search Ad campaign attribution was already reported. Do not start Search Ad Reporter."));
}

TEST_F(APMSearchAdReporterTest, TenFailedRequestsAreTheLastAndTheNextLaunchMakesNoReporter) {
    client->setAnswers({{std::nullopt, NSError::errorWithDomain("ADClientErrorDomain", 0)}});
    LogCapture capture;
    startReporter();
    for (int day = 1; day < 10; ++day) advance(kOneDay);
    EXPECT_EQ(client->requestCount(), 10u);
    EXPECT_EQ(context->persisted->searchAdRetryCount(), 10);
    EXPECT_EQ(capture.matching("Cannot send request for Search Ad campaign attribution. Error").size(), 10u);
    // The tenth request gave up scheduling for good.
    onWorker([&] {
        (void)monitorSample(true);
        reporter->scheduleSearchAdReport();
        EXPECT_TRUE(sampledNow("Search Ad Campaign attribution alarm is already canceled"));
    });
    advance(5 * kOneDay);
    EXPECT_EQ(client->requestCount(), 10u);
    EXPECT_TRUE(context->persisted->searchAdCampaignValue().isNull());
    EXPECT_TRUE(campaigns().empty());

    capture.clear();
    EXPECT_FALSE(makeReporter());
    std::string said;
    for (const auto& line : capture.lines()) said += line + "\n";
    EXPECT_EQ(said, "");
}

TEST_F(APMSearchAdReporterTest, AnswersThatSayNothingAreAskedAgainTheNextDay) {
    LogCapture capture;
    client->setAnswers({{std::nullopt, nullptr},
                        {Value::Dictionary{}, nullptr},
                        {Value::Dictionary{{ADClient::kVersionKey, Value(Value::Dictionary{})}}, nullptr},
                        {Value::Dictionary{{ADClient::kVersionKey, Value("not details")}}, nullptr},
                        ADClient::notAttributedAnswer()});
    startReporter();
    EXPECT_TRUE(capture.contains("Cannot get Search Ad campaign attribution. Search Ad details are empty"));
    for (int day = 1; day <= 3; ++day) {
        EXPECT_TRUE(context->persisted->searchAdCampaignValue().isNull()) << day;
        advance(kOneDay);
    }
    EXPECT_EQ(client->requestCount(), 4u);
    advance(kOneDay);
    EXPECT_EQ(client->requestCount(), 5u);

    // Not attributed: stored as NO, no event, nothing more asked.
    EXPECT_EQ(context->persisted->searchAdCampaignValue(), Value(false));
    EXPECT_TRUE(campaigns().empty());
    advance(kOneDay);
    EXPECT_EQ(client->requestCount(), 5u);
}

TEST_F(APMSearchAdReporterTest, TheCampaignEventLeavesOutWhatIsEmptyAndIsLoggedOnce) {
    context->persisted->setFirstOpenTimestampMilliseconds(1);
    (void)monitorSample(true);
    onWorker([&] { reporter = APMSearchAdReporter::initWithContext(context); });
    ASSERT_TRUE(reporter);
    reporter->logCampaignEventWithSearchAdCampaign(true, "", "");
    EXPECT_TRUE(sampledNow("Search Ad Campaign does not have click_timestamp."));
    auto found = campaigns();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(stringParameter(*found[0], "source"), "Apple");
    EXPECT_EQ(stringParameter(*found[0], "medium"), "search");
    for (const char* left : {"campaign", "term", "click_timestamp"}) EXPECT_FALSE(found[0]->parameters().find(left)) << left;

    // A second answer finds the first one recorded.
    (void)monitorSample(true);
    reporter->logCampaignEventWithSearchAdCampaign(true, "Other", "other");
    reporter->logCampaignEventWithSearchAdCampaign(false, "", "");
    EXPECT_TRUE(sampledNow("Search Ad Campaign is already tracked"));
    EXPECT_EQ(campaigns().size(), 1u);
    EXPECT_EQ(context->persisted->searchAdCampaignValue(), Value(true));
}

// The framework is asked for its client once per process: a later reporter (the next engine's)
// and other threads get the same one, without a race on the answer kept.
TEST_F(APMSearchAdReporterTest, TheClientIsLookedUpOncePerProcessWhoeverAsksFirst) {
    std::atomic<int> lookUps{0};
    ClassRegistry::registerClass(APMSearchAdReporter::kClientClassName, [&lookUps, client = client] {
        ++lookUps;
        return client;
    });
    auto first = makeReporter();
    ASSERT_TRUE(first);
    std::shared_ptr<NSObject> seen[2];
    std::thread one([&] { seen[0] = first->adClientInstance(); });
    std::thread other([&] { seen[1] = first->adClientInstance(); });
    one.join();
    other.join();
    EXPECT_EQ(seen[0], client);
    EXPECT_EQ(seen[1], client);
    std::shared_ptr<APMSearchAdReporter> second = makeReporter();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->adClientInstance(), client);
    EXPECT_EQ(lookUps.load(), 1);
    onWorker([&] {
        first.reset();
        second.reset();
    });
}

TEST_F(APMSearchAdReporterTest, WithoutTheClientNothingIsAskedAndNoQueueOrSettingsMeansNoReporter) {
    ClassRegistry::unregisterClass(APMSearchAdReporter::kClientClassName);
    {
        LogCapture capture;
        startReporter();
        EXPECT_TRUE(capture.contains("iAd framework is not linked. Search Ad Attribution Reporter is disabled."));
    }
    advance(kOneDay);
    EXPECT_EQ(client->requestCount(), 0u);
    EXPECT_EQ(context->persisted->searchAdRetryCount(), 0);

    (void)monitorSample(true);
    auto scheduler = context->workerScheduler;
    context->workerScheduler.reset();
    EXPECT_FALSE(APMSearchAdReporter::initWithContext(context));
    EXPECT_TRUE(sampledNow("Cannot init Search Ad reporter. Queue must be provided"));
    context->workerScheduler = scheduler;
    context->persisted.reset();
    (void)monitorSample(true);
    EXPECT_FALSE(makeReporter());
    EXPECT_TRUE(sampledNow("Cannot init Search Ad reporter. Persisted config must be provided"));
}

TEST_F(APMSearchAdReporterTest, DisablingDropsThePendingRequestAndEnablingDoesNotScheduleOne) {
    client->setAnswers({ADClient::placeholderAnswer()});
    startReporter();
    ASSERT_EQ(client->requestCount(), 1u);
    onWorker([&] { reporter->setSearchAdReporterEnabled(false); });
    advance(2 * kOneDay);
    EXPECT_EQ(client->requestCount(), 1u);
    onWorker([&] {
        reporter->setSearchAdReporterEnabled(true);
        EXPECT_TRUE(reporter->isSearchAdReporterEnabled());
    });
    advance(2 * kOneDay);
    EXPECT_EQ(client->requestCount(), 1u);
    // Asked to schedule again, it asks at once: the last request is more than a day old.
    onWorker([&] { reporter->scheduleSearchAdReport(); });
    settle();
    EXPECT_EQ(client->requestCount(), 2u);
}

// The client answers on a thread of its own; the answer is handled on the worker queue, where
// the alarm it re-arms lives, and an answer for a reporter that is gone is dropped.
TEST_F(APMSearchAdReporterTest, AnswersFromTheClientsThreadAreHandledOnTheWorkerQueue) {
    class QueueNotingSink final : public APMEventSink {
    public:
        explicit QueueNotingSink(std::shared_ptr<APMScheduler> scheduler) : scheduler_(std::move(scheduler)) {}
        bool isEnabled() override { return true; }
        void logInternalEventWithOrigin(const std::string&, const std::string&, const Value::Dictionary&) override {
            ++logged;
            if (scheduler_->isOnWorkerQueue()) ++onWorkerQueue;
        }
        void logInternalEventWithOrigin(const std::string& origin, const std::string& name, double,
                                        const Value::Dictionary& parameters) override {
            logInternalEventWithOrigin(origin, name, parameters);
        }
        void setInternalUserProperty(const Value&, const std::string&, const std::string&) override {}
        void writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>&) override {}
        std::atomic<int> logged{0};
        std::atomic<int> onWorkerQueue{0};

    private:
        std::shared_ptr<APMScheduler> scheduler_;
    };
    auto sink = std::make_shared<QueueNotingSink>(context->workerScheduler);
    client->setAnswers({ADClient::placeholderAnswer(), ADClient::attributedAnswer("Autumn", "sculpture")});
    onWorker([&] {
        reporter = std::make_shared<APMSearchAdReporter>(context->workerScheduler->workerQueue(), context->persisted, sink);
        reporter->setSearchAdReporterEnabled(true);
        reporter->start();
    });
    settle();
    advance(kOneDay);
    EXPECT_EQ(client->requestCount(), 2u);
    EXPECT_EQ(sink->logged.load(), 1);
    EXPECT_EQ(sink->onWorkerQueue.load(), 1);

    // A reporter dropped while its request is out: the late answer finds nobody.
    auto fresh = APMPersistedConfig::initWithSuiteName("search-ads", std::make_shared<MemoryConfigStore>());
    onWorker([&] {
        auto shortLived =
            std::make_shared<APMSearchAdReporter>(context->workerScheduler->workerQueue(), fresh, sink);
        shortLived->setSearchAdReporterEnabled(true);
        shortLived->maybeLogIAdCampaignEvent();
    });
    settle();
    EXPECT_EQ(client->requestCount(), 3u);
    EXPECT_EQ(sink->logged.load(), 1);
    EXPECT_EQ(fresh->searchAdRetryCount(), 1);
    EXPECT_TRUE(fresh->searchAdCampaignValue().isNull());
}
