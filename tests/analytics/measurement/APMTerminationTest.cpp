// The engine as the application terminates: nothing new is sent from then on; an upload whose
// answer is coming in is waited for while its own bytes keep coming, within a bound that no
// service, no name lookup and no other transfer can stretch; one that hangs is left to the
// network's shutdown.
// A batch whose answer's status line said it was taken is delivered however the rest of the
// answer ends; one without such a line (a proxy's or a redirect's is none) stays queued, and
// the next launch delivers it.
#include "DeliveryTestSupport.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLSession.h"
#include "platform/net/NSURLSessionConfiguration.h"
#include "platform/net/URLNetwork.h"
#include "platform/ui/UIApplication.h"
#include "tests/fixtures/ConnectProxy.h"
#include "tests/fixtures/NetworkSettle.h"
#include "tests/fixtures/SteppedFileIO.h"
#include "tests/fixtures/net/HeldNameLookup.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace {

using Reply = MeasurementService::Reply;

// Real seconds by which the wait of a termination whose upload moves no byte has ended, its grace
// over: well before the bound of the whole wait, which only bytes of the upload itself may reach.
constexpr double kGraceEndsBefore =
    (APMMeasurement::kTerminationGracePeriod + APMMeasurement::kTerminationWaitLimit) / 2;

class APMTerminationTest : public DeliveryTest {
protected:
    void TearDown() override {
        URLNetwork::restart();
        DeliveryTest::TearDown();
    }

    void logSteps(int from, int to) {
        for (int n = from; n < to; ++n) APMAnalytics::logEventWithName("step", {{"n", Value(n)}});
        settle();
    }
    // The upload the engine armed, with `reply` from the service; returns once it arrived.
    void uploadAnsweredWith(const Reply& reply) {
        service.enqueueReply(MeasurementService::Route::Upload, reply);
        const std::size_t before = service.uploads().size();
        Clock::advance(std::max(0.0, scheduledUpload() - Clock::now()));
        ASSERT_TRUE(service.waitForUploads(before + 1));
    }
    // How often an upload whose status line said it was taken (whatever became of the rest of
    // its answer) carried each value of the parameter "n" of the events so named.
    std::map<long long, int> takenNumbers(const std::string& name) const {
        std::map<long long, int> numbers;
        for (const auto& upload : service.uploads()) {
            if (!upload.taken()) continue;
            for (const auto& event : upload.batch.events) {
                if (event.name == name) ++numbers[event.parameters.get("n").longLongValue()];
            }
        }
        return numbers;
    }
    // The network object's record of the upload in flight shows its answer's status line.
    void waitForTheStatusLine(long status) {
        auto network = engine()->network();
        ASSERT_TRUE(network);
        ASSERT_TRUE(settleWithNetworkUntil([&] { return network->receivedStatusCode() == status; }))
            << "the status line never came; the last one read was " << network->receivedStatusCode();
    }
    // A launch whose first upload the service took, saying so in its status line (200), and
    // whose answer then holds back the rest.
    void startWithAnUploadHeldAfterItsStatusLine() {
        start();
        logSteps(0, 5);
        Reply stalled;
        stalled.fault = LoopbackServer::Fault::stall();
        uploadAnsweredWith(stalled);
        waitForTheStatusLine(200);
    }
    // The application ends, and the network's shutdown ends what it left in flight: the last
    // upload's bundles, printed with the queue under `label`, are all still queued.
    void quitExpectingTheLastUploadQueued(const std::string& label) {
        terminate();
        URLNetwork::shutdown();
        waitUntilIdle();
        const auto upload = service.uploads().back();
        printQueue(upload, label);
        EXPECT_EQ(count("SELECT count(*) FROM queue"), static_cast<long long>(upload.batch.bundles));
        URLNetwork::restart();
    }
    // The real seconds a termination took in all, and those from the start of its wait for the
    // engine's request (the first run of the main run loop, which only that wait runs) to its
    // end: the grace and the bound are the wait's, the settings' write before it is the disk's.
    struct Quit {
        double took = 0;
        double fromTheWait = 0;
    };
    // What the application posts as it terminates.
    static Quit terminate() {
        auto waitBegan = std::make_shared<std::atomic<double>>(0);
        DispatchQueue::mainQueue()->async([waitBegan] { *waitBegan = Clock::realSeconds(); });
        const double start = Clock::realSeconds();
        NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationWillTerminateNotification,
                                                                    UIApplication::sharedApplication());
        const double end = Clock::realSeconds();
        return {end - start, end - (*waitBegan > 0 ? waitBegan->load() : start)};
    }
};

}  // namespace

// The service holds its answer back before the status line, well past the grace.
TEST_F(APMTerminationTest, AHangingUploadIsLeftQueuedAndTheNextLaunchDeliversItOnce) {
    start();
    logSteps(0, 5);
    Reply hang;
    hang.fault = LoopbackServer::Fault::late(std::chrono::minutes(10));
    uploadAnsweredWith(hang);

    LogCapture log;
    const Quit quit = terminate();
    EXPECT_TRUE(engine()->isTerminating());
    EXPECT_GE(quit.took, APMMeasurement::kTerminationGracePeriod * 0.9) << "the upload in flight was given its time";
    EXPECT_LT(quit.took, APMMeasurement::kTerminationGracePeriod + 10) << "a hanging upload held the termination";
    EXPECT_TRUE(engine()->isNetworkRequestPending());

    // The network's shutdown ends it; what it carried stays queued, and nothing else is sent,
    // whatever the clock does: the upload timer is gone.
    URLNetwork::shutdown();
    waitUntilIdle();
    EXPECT_GT(count("SELECT count(*) FROM queue"), 0);
    EXPECT_EQ(log.matching("[I-ACS023316]").size(), 1u) << "the quit says the batch goes again";
    EXPECT_EQ(rows("PRAGMA integrity_check"), (std::vector<std::vector<std::string>>{{"ok"}}));
    EXPECT_EQ(scheduledUpload(), 0);
    URLNetwork::restart();
    Clock::advance(24 * 3600);
    settle();
    EXPECT_EQ(service.uploads().size(), 1u);

    restart();
    uploadWhileDue();
    const auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 5u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);
    EXPECT_EQ(takenNumbers("step"), delivered) << "the held answer never went out";
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
}

// Music or pictures coming in all along say nothing of the engine's answer: the quit leaves the
// hanging upload after the grace, as it would alone.
TEST_F(APMTerminationTest, AnotherTransferComingInAllAlongDoesNotHoldTheQuit) {
    start();
    logSteps(0, 5);
    Reply hang;
    hang.fault = LoopbackServer::Fault::late(std::chrono::minutes(10));
    uploadAnsweredWith(hang);

    // 64 bytes every 200 ms, for far longer than the test.
    LoopbackServer streaming;
    streaming.serve("/stream", LoopbackServer::Response::make(200, std::string(1 << 20, 's')));
    streaming.setFault("/stream", LoopbackServer::Fault::slow(std::chrono::milliseconds(200), 64));
    auto session = NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration(),
                                                          DispatchQueue::create("test.stream"));
    auto stream = session->dataTaskWithURL(NSURL::URLWithString(streaming.url("/stream")), [](auto&&...) {});
    stream->resume();
    ASSERT_TRUE(settleWithNetworkUntil([&] { return stream->countOfBytesReceived() > 0; }));

    const Quit quit = terminate();
    EXPECT_GE(quit.took, APMMeasurement::kTerminationGracePeriod * 0.9) << "the upload in flight was given its time";
    EXPECT_LT(quit.fromTheWait, kGraceEndsBefore) << "another transfer held the termination";
    EXPECT_GT(stream->countOfBytesReceived(), 64) << "the stream came in all along";
    EXPECT_EQ(stream->state(), NSURLSessionTaskStateRunning);
    EXPECT_TRUE(engine()->isNetworkRequestPending());

    URLNetwork::shutdown();
    waitUntilIdle();
    EXPECT_GT(count("SELECT count(*) FROM queue"), 0);
    EXPECT_EQ(stream->state(), NSURLSessionTaskStateCompleted);
}

// The system's resolver holds the service's name: the quit waits for the engine's request no
// longer than the grace, the network's shutdown does not wait for the lookup, and the next
// launch delivers what was logged, once.
TEST_F(APMTerminationTest, AnUploadWaitingForItsNameLookupHoldsTheQuitOnlyForTheGrace) {
    HeldNameLookup lookup;
    ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(
        Value(lookup.name() + ":" + std::to_string(service.port())), APMRemoteConfig::kMeasurementHostDefaultsKey));
    start();
    logSteps(0, 5);
    Clock::advance(std::max(0.0, scheduledUpload() - Clock::now()));
    ASSERT_TRUE(lookup.waitForLookups(1));

    const Quit quit = terminate();
    EXPECT_GE(quit.took, APMMeasurement::kTerminationGracePeriod * 0.9) << "the request in flight was given its time";
    EXPECT_LT(quit.fromTheWait, kGraceEndsBefore) << "the name lookup held the termination";
    EXPECT_TRUE(engine()->isNetworkRequestPending());
    URLNetwork::shutdown();
    EXPECT_GT(lookup.held(), 0) << "the network's shutdown waited for the name lookups";
    waitUntilIdle();
    EXPECT_TRUE(service.uploads().empty());

    lookup.release();
    ASSERT_TRUE(URLNetwork::waitForLookupThreads(HeldNameLookup::kHoldBound));
    URLNetwork::restart();
    aimAtService();
    restart();
    uploadWhileDue();
    const auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 5u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
}

// The service has said 200 and then holds the rest of its answer: the batch is delivered, and
// neither the quit nor the next launch sends it again.
TEST_F(APMTerminationTest, AnUploadWhoseStatusLineCameIsDeliveredThoughTheQuitCutsTheRestOfItsAnswer) {
    startWithAnUploadHeldAfterItsStatusLine();

    LogCapture log;
    terminate();
    EXPECT_TRUE(engine()->isNetworkRequestPending()) << "the rest of the answer never came";
    URLNetwork::shutdown();
    waitUntilIdle();
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
    EXPECT_EQ(log.matching("[I-ACS023315]").size(), 1u) << "the quit says the batch was delivered";
    EXPECT_TRUE(log.matching("[I-ACS023316]").empty());
    URLNetwork::restart();

    restart();
    logSteps(5, 7);
    uploadWhileDue();
    const auto taken = takenNumbers("step");
    ASSERT_EQ(taken.size(), 7u);
    for (const auto& [n, times] : taken) EXPECT_EQ(times, 1) << "step " << n;
}

// The same quit, cut at any step it takes in the measurement folder (a sync, a rename, a removal;
// what a power cut there leaves is the least a cut of the process leaves): once the quit has said
// that the service took the batch, no cut finds the batch still queued to be sent again.
TEST_F(APMTerminationTest, NoCutAfterTheQuitSaysABatchWasTakenFindsItStillQueued) {
    const std::string folder =
        std::filesystem::path(APMApplicationSupportPath(APMMeasurement::kDatabaseName)).parent_path().string();
    std::filesystem::create_directories(folder);
    LogCapture log;
    // The images a cut would leave, each marked with whether the quit had said so by then. On the
    // heap: other threads may come through the file layer after the test.
    struct Cuts {
        std::mutex mutex;
        bool recording = false;
        std::vector<std::pair<std::string, bool>> images;
        PowerCutFileIO* io = nullptr;
    };
    auto cuts = std::make_shared<Cuts>();
    auto stepped = std::make_shared<SteppedFileIO>(folder, [cuts, folder, &log](const std::string&, const std::string& path) {
        // Other folders' steps (the monitor's own settings among them) are not waited on.
        if (path.rfind(folder, 0) != 0) return;
        std::lock_guard lock(cuts->mutex);
        if (!cuts->recording) return;
        const bool said = log.contains("[I-ACS023315]");
        cuts->images.emplace_back(Sandbox::tmp() + "/cut-" + std::to_string(cuts->images.size()), said);
        ASSERT_EQ(cuts->io->writeImage(cuts->images.back().first), 0);
    });
    cuts->io = stepped.get();
    ScopedFileIO scope(stepped);
    startWithAnUploadHeldAfterItsStatusLine();

    {
        std::lock_guard lock(cuts->mutex);
        cuts->recording = true;
    }
    terminate();
    URLNetwork::shutdown();
    waitUntilIdle();
    std::vector<std::pair<std::string, bool>> images;
    {
        std::lock_guard lock(cuts->mutex);
        cuts->recording = false;
        images = cuts->images;
    }
    URLNetwork::restart();
    ASSERT_EQ(log.matching("[I-ACS023315]").size(), 1u) << "the quit says the batch was delivered";
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
    ASSERT_FALSE(images.empty()) << "the batch left the queue without a step on the disk";
    for (const auto& [image, said] : images) {
        if (!said) continue;
        const auto queued = sqliteRows(image + "/" + APMMeasurement::kDatabaseName, "SELECT count(*) FROM queue");
        ASSERT_EQ(queued.size(), 1u) << image;
        EXPECT_EQ(queued[0][0], "0") << "a cut at " << image << " after the quit's word keeps the batch";
    }
}

// Through a tunnelling proxy, the service holds its answer back before its status line: the
// proxy's "200 Connection established" is no status of the answer, and the batch stays queued.
TEST_F(APMTerminationTest, ThroughAProxyAnAnswerHeldBeforeItsStatusLineLeavesTheBatchQueued) {
    ConnectProxy proxy;
    ScopedHTTPSProxy routed(proxy);
    start();
    logSteps(0, 5);
    Reply hang;
    hang.fault = LoopbackServer::Fault::late(std::chrono::minutes(10));
    uploadAnsweredWith(hang);
    EXPECT_EQ(engine()->network()->receivedStatusCode(), 0) << "a status line was read before the service's";

    LogCapture log;
    quitExpectingTheLastUploadQueued("answer held through a proxy at the quit");
    EXPECT_EQ(log.matching("[I-ACS023316]").size(), 1u) << "the quit says the batch goes again";
    EXPECT_TRUE(log.matching("[I-ACS023315]").empty());
    EXPECT_GE(proxy.tunnelCount(), 1u);
}

// The service redirects the upload to an address that says 200 and holds the rest: the engine
// never asks it, so nothing says at the quit that the batch was taken, and it stays queued.
TEST_F(APMTerminationTest, AnUploadRedirectedToAnAddressThatSays200StaysQueuedAtTheQuit) {
    service.serve("/welcome", LoopbackServer::Response::make(200, "<html><body>Welcome</body></html>", "text/html"));
    service.setFault("/welcome", LoopbackServer::Fault::stall());
    start();
    logSteps(0, 5);
    Reply redirected;
    redirected.fault = LoopbackServer::Fault::redirect("/welcome");
    uploadAnsweredWith(redirected);
    ASSERT_TRUE(settleWithNetworkUntil(
        [&] { return !engine()->isNetworkRequestPending() || !service.requestsFor("/welcome").empty(); }));
    EXPECT_TRUE(service.requestsFor("/welcome").empty()) << "the redirect was followed";

    LogCapture log;
    quitExpectingTheLastUploadQueued("302 at the quit to an address that says 200");
    EXPECT_TRUE(log.matching("[I-ACS023315]").empty());
}

// A trickle of the answer's body, a byte every tenth of the grace, under a served time-out of a
// minute and a half: the quit waits for it no longer than its bound, and its status line came, so
// it counts. The pace leaves the trickle inside the grace on a busy machine too, where a byte may
// come a second late: one a second would let a late byte end the wait by the grace, as it should.
TEST_F(APMTerminationTest, AnAnswerTricklingOnEndsTheQuitAtItsBoundWhateverTheServedTimeOut) {
    service.setConfiguration(kAppID, makeMeasurementConfig({{"measurement.network.network_timeout", "90000"}}, 2, kAppID));
    start();
    logSteps(0, 5);
    Reply trickle;
    const auto pace = std::chrono::milliseconds(static_cast<int>(APMMeasurement::kTerminationGracePeriod * 100));
    trickle.fault = LoopbackServer::Fault::slow(pace, 1);
    trickle.fault.repeatBodyTo = 600;
    uploadAnsweredWith(trickle);
    waitForTheStatusLine(200);
    EXPECT_EQ(engine()->network()->timeoutInterval(), 90) << "the request runs under the served time-out";

    const Quit quit = terminate();
    EXPECT_GE(quit.took, APMMeasurement::kTerminationWaitLimit * 0.9) << "bytes kept coming: no grace ended the wait";
    EXPECT_LT(quit.took, APMMeasurement::kTerminationWaitLimit + 5) << "the trickle held the termination";
    EXPECT_TRUE(engine()->isNetworkRequestPending());
    URLNetwork::shutdown();
    waitUntilIdle();
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
    EXPECT_EQ(takenNumbers("step").size(), 5u);
}

TEST_F(APMTerminationTest, AReplyComingInIsWaitedForAndItsBundlesAreNotSentAgain) {
    start();
    logSteps(0, 5);
    Reply slow;
    slow.fault = LoopbackServer::Fault::slow(std::chrono::milliseconds(150), 16);
    uploadAnsweredWith(slow);

    terminate();
    EXPECT_FALSE(engine()->isNetworkRequestPending());
    settle();
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
    auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 5u);

    // The next launch has nothing of them left to send.
    restart();
    logSteps(5, 7);
    uploadWhileDue();
    delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 7u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);
}

// The grace bounds a pause of the reply, not the reply: one whose twelve bytes come a tenth of the
// grace apart takes longer than the grace, and is read to its end all the same. The pace leaves
// each pause far inside the grace on a busy machine, where a byte may come a second late.
TEST_F(APMTerminationTest, AReplyComingInForLongerThanTheGraceIsReadToItsEnd) {
    start();
    logSteps(0, 5);
    Reply slow;
    const auto pause = std::chrono::milliseconds(static_cast<int>(APMMeasurement::kTerminationGracePeriod * 100));
    slow.fault = LoopbackServer::Fault::slow(pause, 1);
    slow.fault.repeatBodyTo = 12;
    uploadAnsweredWith(slow);

    terminate();
    EXPECT_FALSE(engine()->isNetworkRequestPending());
    settle();
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
    EXPECT_EQ(deliveredNumbers("step").size(), 5u);
}

TEST_F(APMTerminationTest, EventsLoggedAsTheApplicationEndsAreStoredAndWaitForTheNextLaunch) {
    start();
    logSteps(0, 3);
    terminate();
    logSteps(3, 6);
    EXPECT_EQ(rawEventNumbers("step"), (std::vector<long long>{0, 1, 2, 3, 4, 5}));
    // However long the process lives on, nothing is sent.
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] { engine()->uploader()->uploadData(); });
    Clock::advance(24 * 3600);
    waitUntilIdle();
    EXPECT_TRUE(service.uploads().empty());

    restart();
    uploadWhileDue();
    const auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 6u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
}

// Settings kept in Application Support are written a second after a change, a second the
// process does not have: what the worker changed as the application ended is in the file.
TEST_F(APMTerminationTest, SettingsChangedAsTheApplicationEndsAreInTheFileInApplicationSupport) {
    APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(true);
    start();
    auto settings = engine()->persistedConfig();
    ASSERT_TRUE(settings->usesApplicationSupportStore());
    engine()->scheduler()->scheduleOnWorkerQueueBlockID("test", [settings] { settings->setSessionNumber(3); });
    terminate();
    settle();
    const Value file = NSPropertyListSerialization::propertyListWithContentsOfFile(
        APMApplicationSupportPlistPath(settings->name()));
    EXPECT_EQ(file.dictionary().get("/vizudi/measurement/session_number").longLongValue(), 3) << file.description();
    APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(false);
}
