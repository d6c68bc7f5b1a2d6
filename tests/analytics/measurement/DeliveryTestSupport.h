// The whole engine started as the application starts it, aimed at the measurement service on
// 127.0.0.1: events go in through the analytics door and come out as the service's accepted
// events. The manual clock drives the upload timer; only the loopback requests run in real time.
#pragma once

#include "EngineTestSupport.h"
#include "UploadTestSupport.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

class DeliveryTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", MeasurementService::certificatePEM()));
        aimAtService();
        service.setConfiguration(kAppID, makeMeasurementConfig({}, 1, kAppID));
    }
    void TearDown() override {
        service.releaseStalls();
        if (APMMeasurement::hasSharedInstance()) {
            waitUntilIdle();
            engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] { engine()->alarm()->cancel(); });
        }
        EngineTest::TearDown();
        URLTrustAnchors::reset();
    }

    // A new launch forgets the defaults' host along with the rest of the process.
    void aimAtService() {
        ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value(service.host()),
                                                                      APMRemoteConfig::kMeasurementHostDefaultsKey));
    }

    // Real seconds one request of the engine may take: a safety net of the harness, long enough for
    // the largest batch with sixteen copies of a test sharing two cores.
    static constexpr double kRequestBound = 60;

    // Until no request of the engine is in flight and its answer was handled (real time, each
    // request bounded: only the loopback exchange takes any).
    void waitUntilIdle() {
        for (;;) {
            settle();
            if (!engine()->isNetworkRequestPending()) break;
            // The answer's handling may start the next request: look again once this one ended.
            ASSERT_TRUE(engine()->waitUntilNoNetworkRequestPending(kRequestBound))
                << "a request of the engine did not end within the harness's bound of " << kRequestBound << " s";
        }
        settle();
    }

    // When the "Measurement timer" fires next; 0 when it is not armed.
    double scheduledUpload() {
        double when = 0;
        engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
            if (auto scheduled = engine()->alarm()->scheduledTimestamp()) when = scheduled->timeIntervalSince1970;
        });
        return when;
    }

    // Moves the clock to each upload the engine has armed until none is (at most `rounds`).
    void uploadWhileDue(int rounds = 40) {
        for (int round = 0; round < rounds; ++round) {
            ASSERT_NO_FATAL_FAILURE(waitUntilIdle());
            const double next = scheduledUpload();
            if (next == 0) return;
            Clock::advance(std::max(0.0, next - Clock::now()));
        }
        waitUntilIdle();
    }

    // Moves the clock `seconds` on from timer to timer, letting every request of the engine end
    // in between. One long advance would let a request's own timeout (on the manual clock) cut it
    // while its bytes still reach the service, which then records it at a moment nobody waits for.
    // `atEachStop` runs whenever the engine is idle, before the clock moves on.
    void advanceLettingRequestsEnd(double seconds, const std::function<void()>& atEachStop = {}) {
        const double end = Clock::now() + seconds;
        for (;;) {
            waitUntilIdle();
            if (atEachStop) atEachStop();
            const double next = Clock::nextFireTime();
            if (next > end) break;
            Clock::advance(std::max(0.0, next - Clock::now()));
        }
        Clock::advance(std::max(0.0, end - Clock::now()));
        waitUntilIdle();
        if (atEachStop) atEachStop();
    }

    // Prints "queue before B, after A (`label`)": B the bundles `upload` carried (every one
    // queued as it went out), A those queued now.
    static void printQueue(const MeasurementService::Upload& upload, const std::string& label) {
        std::printf("queue before %zu, after %lld (%s)\n", upload.batch.bundles, count("SELECT count(*) FROM queue"),
                    label.c_str());
    }

    // How often the service accepted each value of the parameter "n" of the events so named.
    std::map<long long, int> deliveredNumbers(const std::string& name) const {
        std::map<long long, int> numbers;
        for (const auto& event : service.events()) {
            if (event.name != name) continue;
            const Value& n = event.parameters.get("n");
            ++numbers[n.isNumber() ? n.longLongValue() : -1];
        }
        return numbers;
    }

    MeasurementService service;
};
