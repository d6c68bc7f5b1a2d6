// Bundling of raw events over a real database: groups, limits, the block list and reserved
// names, daily limits, purchases, engagement totals, aggregates and the bundle's index and span,
// and raw events that can never be sent.
#include "UploadTestSupport.h"

#include "analytics/core/APMDailyCounts.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMRawEventData.h"
#include "analytics/proto/APMPBEventParam.h"

#include <gtest/gtest.h>

#include "platform/foundation/SecureRandom.h"

#include <cmath>
#include <iostream>
#include <map>
#include <random>

namespace {

class APMBundlerTest : public UploadTestBase {
protected:
    bool bundle() {
        bool stored = false;
        onWorker([&] { stored = uploader->bundler()->bundleRawEvents(); });
        return stored;
    }
    // Bundles until nothing more is consumed; how many calls stored something.
    int bundleAll() {
        int count = 0;
        while (bundle()) ++count;
        return count;
    }
    std::int64_t count(const std::string& table) {
        std::int64_t rows = -1;
        onWorker([&] {
            auto result = context->database_->sqliteStore()->recordsForQuery("SELECT COUNT(*) AS n FROM " + table, {},
                                                                            nullptr);
            if (result && !result->empty()) rows = result->front().get("n").longLongValue();
        });
        return rows;
    }

    static std::vector<std::shared_ptr<APMPBEvent>> eventsOf(const std::shared_ptr<APMPBMeasurementBundle>& bundle) {
        std::vector<std::shared_ptr<APMPBEvent>> events;
        for (const Value& item :
             APMPBMessageGetArray<APMPBEvent>(bundle, APMPBMeasurementBundle::kEvents).value_or(Value::Array{})) {
            events.push_back(item.objectAs<APMPBEvent>());
        }
        return events;
    }
    static std::vector<std::string> namesOf(const std::shared_ptr<APMPBMeasurementBundle>& bundle) {
        std::vector<std::string> names;
        for (const auto& event : eventsOf(bundle)) names.push_back(APMPBMessageGetString(event, APMPBEvent::kName).value_or(""));
        return names;
    }
    static std::optional<std::int64_t> intParameter(const std::shared_ptr<APMPBEvent>& event, const std::string& name) {
        for (const Value& item : APMPBMessageGetArray<APMPBEventParam>(event, APMPBEvent::kParams).value_or(Value::Array{})) {
            auto param = item.objectAs<APMPBEventParam>();
            if (APMPBMessageGetString(param, APMPBEventParam::kName) == name &&
                APMPBMessageHasField(param, APMPBEventParam::kIntValue)) {
                return APMPBMessageGetInt64(param, APMPBEventParam::kIntValue);
            }
        }
        return std::nullopt;
    }
    static std::map<std::string, std::int64_t> userProperties(const std::shared_ptr<APMPBMeasurementBundle>& bundle) {
        std::map<std::string, std::int64_t> values;
        for (const Value& item : APMPBMessageGetArray<APMPBUserAttribute>(bundle, APMPBMeasurementBundle::kUserAttributes)
                                     .value_or(Value::Array{})) {
            auto attribute = item.objectAs<APMPBUserAttribute>();
            values[APMPBMessageGetString(attribute, APMPBUserAttribute::kName).value_or("")] =
                APMPBMessageGetInt64(attribute, APMPBUserAttribute::kIntValue);
        }
        return values;
    }
    std::int64_t storedUserProperty(const std::string& name) {
        std::int64_t value = -1;
        onWorker([&] {
            auto stored = context->database_->userAttributeWithName(name, nullptr);
            if (stored && stored->value()->isInt64()) value = stored->value()->int64Value();
        });
        return value;
    }
    static std::shared_ptr<APMEvent> realtime(std::shared_ptr<APMEvent> event) {
        event->setRealtime(true);
        return event;
    }
    static std::int64_t millis(double seconds) { return static_cast<std::int64_t>(seconds * 1000); }

    // The start of the hour kNow falls in.
    const double hour_ = std::floor(kNow / 3600) * 3600;
};

TEST_F(APMBundlerTest, GroupsShareMetadataClockHourAndConsecutiveRows) {
    EXPECT_FALSE(bundle());
    auto other = metadata(kTestAppID, "16.0");
    writeRawEvents({event("a", hour_ - 2), event("b", hour_ - 1), event("c", hour_)});
    writeRawEvents({event("d", hour_)}, other);
    writeRawEvents({event("e", hour_ + 1)});

    // The oldest row leads; a new clock hour and another fingerprint's row each end a group.
    EXPECT_EQ(bundleAll(), 4);
    auto bundles = queuedBundles();
    ASSERT_EQ(bundles.size(), 4u);
    EXPECT_EQ(namesOf(bundles[0].first), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(namesOf(bundles[1].first), (std::vector<std::string>{"c"}));
    EXPECT_EQ(namesOf(bundles[2].first), (std::vector<std::string>{"d"}));
    EXPECT_EQ(APMPBMessageGetString(bundles[2].first, APMPBMeasurementBundle::kOsVersion), "16.0");
    EXPECT_EQ(namesOf(bundles[3].first), (std::vector<std::string>{"e"}));

    // Index and span, and the previous bundle's span from the second bundle on.
    const auto& first = bundles[0].first;
    EXPECT_EQ(APMPBMessageGetInt32(first, APMPBMeasurementBundle::kBundleIndex), 1);
    EXPECT_EQ(APMPBMessageGetInt64(first, APMPBMeasurementBundle::kStartTimestampMillis), millis(hour_ - 2));
    EXPECT_EQ(APMPBMessageGetInt64(first, APMPBMeasurementBundle::kEndTimestampMillis), millis(hour_ - 1));
    EXPECT_FALSE(APMPBMessageHasField(first, APMPBMeasurementBundle::kPreviousBundleStartTimestampMillis));
    EXPECT_FALSE(APMPBMessageHasField(first, APMPBMeasurementBundle::kPreviousBundleEndTimestampMillis));
    EXPECT_EQ(APMPBMessageGetString(first, APMPBMeasurementBundle::kVuvAppId), kTestAppID);
    EXPECT_EQ(APMPBMessageGetString(first, APMPBMeasurementBundle::kAppId), kTestBundleID);
    EXPECT_FALSE(APMPBMessageHasField(first, APMPBMeasurementBundle::kConfigVersion));
    const auto& second = bundles[1].first;
    EXPECT_EQ(APMPBMessageGetInt32(second, APMPBMeasurementBundle::kBundleIndex), 2);
    EXPECT_EQ(APMPBMessageGetInt64(second, APMPBMeasurementBundle::kPreviousBundleStartTimestampMillis),
              millis(hour_ - 2));
    EXPECT_EQ(APMPBMessageGetInt64(second, APMPBMeasurementBundle::kPreviousBundleEndTimestampMillis),
              millis(hour_ - 1));
    EXPECT_EQ(APMPBMessageGetInt32(bundles[3].first, APMPBMeasurementBundle::kBundleIndex), 4);

    // Every raw event and its metadata are gone; the aggregates carry the previous fire time.
    EXPECT_EQ(count("raw_events"), 0);
    EXPECT_EQ(count("raw_events_metadata"), 0);
    // Events of one name in one bundle chain their fire times, and the stored row counts them all.
    writeRawEvents({event("a", hour_ + 2), event("a", hour_ + 3)});
    applyConfig(makeMeasurementConfig({}, 12));
    EXPECT_TRUE(bundle());
    auto last = queuedBundles().back().first;
    ASSERT_EQ(eventsOf(last).size(), 2u);
    EXPECT_EQ(APMPBMessageGetInt64(eventsOf(last)[0], APMPBEvent::kPreviousTimestampMillis), millis(hour_ - 2));
    EXPECT_EQ(APMPBMessageGetInt64(eventsOf(last)[1], APMPBEvent::kPreviousTimestampMillis), millis(hour_ + 2));
    onWorker([&] {
        auto aggregates = context->database_->eventAggregatesWithName("a", nullptr);
        ASSERT_TRUE(aggregates);
        EXPECT_EQ(aggregates->lifetimeCount(), 3);
        EXPECT_EQ(aggregates->lastFireTimestamp(), hour_ + 3);
    });
    EXPECT_EQ(APMPBMessageGetInt64(last, APMPBMeasurementBundle::kConfigVersion), 12);
}

TEST_F(APMBundlerTest, GroupsStayWithinTheEventCountAndSizeButAlwaysTakeTheFirst) {
    std::vector<std::shared_ptr<APMEvent>> many;
    for (int i = 0; i < 1500; ++i) many.push_back(event("tick", hour_ + i * 0.001, {{"i", Value(i)}}));
    writeRawEvents(many);
    EXPECT_EQ(bundleAll(), 2);
    auto bundles = queuedBundles();
    ASSERT_EQ(bundles.size(), 2u);
    EXPECT_EQ(eventsOf(bundles[0].first).size(), 1000u);
    EXPECT_EQ(eventsOf(bundles[1].first).size(), 500u);

    // A group's encoded events stay below the size limit: two events fit under a limit one byte
    // above their size, not under one equal to it.
    onWorker([&] {
        ASSERT_TRUE(context->database_->deleteBundlesWithRowIDs(
            {Value(static_cast<long long>(bundles[0].second)), Value(static_cast<long long>(bundles[1].second))}, nullptr));
    });
    auto sample = event("tick", hour_, {{"i", Value(1000)}});
    const std::size_t size = sample->protoEvent()->protoBuffer()->size();
    applyConfig(makeMeasurementConfig({{"measurement.upload.max_batch_size", std::to_string(2 * size + 1)}}));
    writeRawEvents({sample, event("tick", hour_, {{"i", Value(1001)}}), event("tick", hour_, {{"i", Value(1002)}})});
    EXPECT_EQ(bundleAll(), 2);
    bundles = queuedBundles();
    ASSERT_EQ(bundles.size(), 2u);
    EXPECT_EQ(eventsOf(bundles[0].first).size(), 2u);
    EXPECT_EQ(eventsOf(bundles[1].first).size(), 1u);
    applyConfig(makeMeasurementConfig({{"measurement.upload.max_batch_size", std::to_string(2 * size)}}));
    writeRawEvents({event("tick", hour_, {{"i", Value(1003)}}), event("tick", hour_, {{"i", Value(1004)}})});
    EXPECT_EQ(bundleAll(), 2);
    ASSERT_EQ(queuedBundles().size(), 4u);
    Value::Array rowIDs;
    for (const auto& queued : queuedBundles()) rowIDs.push_back(Value(static_cast<long long>(queued.second)));
    onWorker([&] { ASSERT_TRUE(context->database_->deleteBundlesWithRowIDs(rowIDs, nullptr)); });

    // A limit no event fits under: each event goes alone, none holds back the rest.
    applyConfig(makeMeasurementConfig({{"measurement.upload.max_batch_size", "0"}}));
    writeRawEvents({event("tick", hour_), event("tick", hour_ + 1), event("tick", hour_ + 2)});
    EXPECT_EQ(bundleAll(), 3);
    EXPECT_EQ(queuedBundles().size(), 3u);
    EXPECT_EQ(count("raw_events"), 0);
}

TEST_F(APMBundlerTest, AnUploadPassCreatesAtMostTheConfiguredNumberOfBundles) {
    applyConfig(makeMeasurementConfig({{"measurement.upload.max_bundles_created_per_iteration", "2"}}));
    for (int i = 0; i < 5; ++i) writeRawEvents({event("tick", hour_ - 5 * 3600 + i * 3600)});
    onWorker([&] { uploader->uploadData(); });
    settle();
    // Two per pass, each pass followed by the next while data remains.
    auto uploads = service.uploads();
    ASSERT_EQ(uploads.size(), 3u);
    EXPECT_EQ(uploads[0].batch.bundles, 2u);
    EXPECT_EQ(uploads[1].batch.bundles, 2u);
    EXPECT_EQ(uploads[2].batch.bundles, 1u);
    EXPECT_EQ(service.events().size(), 5u);
}

TEST_F(APMBundlerTest, TheBlockListRejectsAndReservedNamesAreMapped) {
    LogCapture capture;
    // (A configuration without settings is not read at all.)
    auto config = makeMeasurementConfig({{"measurement.upload.blacklist_public", "0"}});
    addEventConfig(config, "level_up", true, false);
    applyConfig(config);
    writeRawEvents({event("level_up", hour_), event("ad_impression", hour_), event("spend", hour_)});
    EXPECT_TRUE(bundle());
    EXPECT_EQ(namesOf(queuedBundles().back().first), (std::vector<std::string>{"_ai", "spend"}));
    EXPECT_TRUE(capture.contains("[I-ACS023099] Rejected event. Event name: level_up"));

    // Internal events blocked, public ones not: an ad impression still goes, as "_ai".
    config = makeMeasurementConfig({{"measurement.upload.blacklist_internal", "1"}});
    addEventConfig(config, "_ai", true, false);
    applyConfig(config);
    writeRawEvents({event("ad_impression", hour_ + 1), event("_e", hour_ + 1), event("spend", hour_ + 1)});
    EXPECT_TRUE(bundle());
    EXPECT_EQ(namesOf(queuedBundles().back().first), (std::vector<std::string>{"_ai", "spend"}));

    // A group rejected whole is removed, and no bundle is made of it.
    config = makeMeasurementConfig({{"measurement.collection.redundant_engagement_removal_enabled", "1"}});
    addEventConfig(config, "spend", true, false);
    applyConfig(config);
    writeRawEvents({event("spend", hour_ + 2), event("spend", hour_ + 2)});
    EXPECT_FALSE(bundle());
    EXPECT_TRUE(capture.contains("[I-ACS023100] Rejected all events."));
    EXPECT_EQ(count("raw_events"), 0);
    EXPECT_EQ(queuedBundles().size(), 2u);
    // Redundant engagement: an "_e" of a first run is left out.
    writeRawEvents({event("_e", hour_ + 3, {{"_et", Value(5)}, {"_fr", Value(1)}}), event("_e", hour_ + 3, {{"_et", Value(7)}})});
    EXPECT_TRUE(bundle());
    auto events = eventsOf(queuedBundles().back().first);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(intParameter(events[0], "_et"), 7);
}

TEST_F(APMBundlerTest, DailyLimitsOfConversionsAndRealtimeEvents) {
    LogCapture capture;
    auto config = makeMeasurementConfig({{"measurement.upload.max_conversions_per_day", "2"},
                                         {"measurement.upload.max_realtime_events_per_day", "2"}});
    addEventConfig(config, "level_up", false, true);
    applyConfig(config);
    writeRawEvents({event("level_up", hour_), event("level_up", hour_ + 1), event("level_up", hour_ + 2),
                    realtime(event("spend", hour_ + 3)), realtime(event("_f", hour_ + 4)),
                    event("_iap", hour_ + 5, {{"product_id", Value("gold")}})});
    EXPECT_TRUE(bundle());
    auto events = eventsOf(queuedBundles().back().first);
    ASSERT_EQ(events.size(), 6u);
    // Two conversions a day; conversions are real-time and count against that limit too.
    EXPECT_EQ(intParameter(events[0], "_c"), 1);
    EXPECT_EQ(intParameter(events[0], "_r"), 1);
    EXPECT_EQ(intParameter(events[1], "_c"), 1);
    EXPECT_EQ(intParameter(events[1], "_r"), 1);
    EXPECT_EQ(intParameter(events[2], "_c"), std::nullopt);
    EXPECT_EQ(intParameter(events[2], "_err"), 10);
    EXPECT_TRUE(capture.contains("[I-ACS023102] Too many conversion events. Not logging event as conversion. "
                                 "Name, limit: level_up, 2"));
    // The real-time limit is reached; first opens are not subject to it.
    EXPECT_EQ(intParameter(events[3], "_r"), std::nullopt);
    EXPECT_TRUE(capture.contains("[I-ACS023104] Number of real-time events is over the real-time event count daily "
                                 "limit."));
    EXPECT_EQ(intParameter(events[4], "_r"), 1);
    // Purchases are marked as validated.
    EXPECT_EQ(intParameter(events[5], "validated"), 1);
    EXPECT_EQ(intParameter(events[5], "sandbox"), std::nullopt);

    std::shared_ptr<APMDailyCounts> counts;
    onWorker([&] { counts = context->database_->dailyCounts(nullptr); });
    ASSERT_NE(counts, nullptr);
    EXPECT_EQ(counts->conversionsCount(), 2);
    EXPECT_EQ(counts->realtimeCount(), 2);

    // In debug mode nothing counts against the real-time limit.
    APMMeasurementMonitor()->setDebugModeEnabled(true);
    writeRawEvents({realtime(event("spend", hour_ + 6))});
    EXPECT_TRUE(bundle());
    EXPECT_EQ(intParameter(eventsOf(queuedBundles().back().first)[0], "_r"), 1);
}

TEST_F(APMBundlerTest, EngagementTotalsAndSessionStarts) {
    // The metadata carries the engagement total as it was when the events were written.
    auto withTotal = metadata();
    auto stale = APMPBUserAttribute::make();
    APMPBMessageSetString(stale, APMPBUserAttribute::kName, "_lte");
    APMPBMessageSetInt64(stale, APMPBUserAttribute::kIntValue, 999);
    APMPBMessageSetArray(withTotal, APMPBMeasurementBundle::kUserAttributes, Value::Array{Value(stale)});
    writeRawEvents({event("_e", hour_, {{"_et", Value(1000)}}), event("_e", hour_ + 1, {{"_et", Value(500)}}),
                    event("_e", hour_ + 2, {{"_et", Value(300)}, {"_fr", Value(1)}})},
                   withTotal);
    EXPECT_TRUE(bundle());
    auto properties = userProperties(queuedBundles().back().first);
    EXPECT_EQ(properties.size(), 2u);
    EXPECT_EQ(properties["_lte"], 1500);
    EXPECT_EQ(properties["_se"], 1500);
    EXPECT_EQ(storedUserProperty("_lte"), 1500);
    EXPECT_EQ(storedUserProperty("_se"), 1500);

    // A session start resets the session total and the session counts.
    writeRawEvents({event("_s", hour_ + 3), event("_e", hour_ + 4, {{"_et", Value(200)}})});
    EXPECT_TRUE(bundle());
    properties = userProperties(queuedBundles().back().first);
    EXPECT_EQ(properties["_lte"], 1700);
    EXPECT_EQ(properties["_se"], 200);
    EXPECT_EQ(storedUserProperty("_se"), 200);
    std::shared_ptr<APMEventAggregates> engagement;
    onWorker([&] { engagement = context->database_->eventAggregatesWithName("_e", nullptr); });
    ASSERT_NE(engagement, nullptr);
    EXPECT_EQ(engagement->lifetimeCount(), 4);
    EXPECT_EQ(engagement->currentSessionCount(), 1);
    EXPECT_DOUBLE_EQ(engagement->lastFireTimestamp(), hour_ + 4);
}

TEST_F(APMBundlerTest, RawEventsThatCanNeverBeSentAreDropped) {
    LogCapture capture;
    auto bundleMetadata = metadata();
    writeRawEvents({}, bundleMetadata);
    const std::int64_t fingerprint = apm_64LSBMD5(*bundleMetadata->protoBuffer());
    auto unreadable = [&](double timestamp) {
        onWorker([&] {
            ASSERT_TRUE(context->database_->sqliteStore()->upsertRecord(
                {{"name", Value("tick")},
                 {"timestamp", Value(timestamp)},
                 {"metadata_fingerprint", Value(static_cast<long long>(fingerprint))},
                 {"data", Value(NSData{0xff, 0xff, 0xff})},
                 {"is_realtime", Value(0)}},
                "raw_events", nullptr));
        });
    };
    // A group of unreadable rows alone leads the table: it goes whole.
    for (int i = 0; i < 3; ++i) unreadable(hour_ - 3600 + i);
    // One inside a group goes with it.
    writeRawEvents({event("tick", hour_)}, bundleMetadata);
    unreadable(hour_ + 1);
    writeRawEvents({event("tick", hour_ + 2)}, bundleMetadata);
    // Rows whose metadata is missing, and nothing to give them instead.
    onWorker([&] { ASSERT_TRUE(context->database_->insertRawEvent(event("orphan", hour_ + 3), 42, false, nullptr)); });
    writeRawEvents({event("tick", hour_ + 4)}, bundleMetadata);

    EXPECT_TRUE(bundle());
    EXPECT_EQ(capture.matching("[I-ACS023304]").size(), 1u);
    EXPECT_TRUE(capture.contains("[I-ACS023304] Dropping raw events that cannot be read. Count: 3"));
    EXPECT_EQ(count("raw_events"), 5);
    EXPECT_TRUE(bundle());
    EXPECT_TRUE(capture.contains("[I-ACS023304] Dropping raw events that cannot be read. Count: 1"));
    EXPECT_TRUE(bundle());
    EXPECT_TRUE(capture.contains("[I-ACS023302] Dropping raw events without their metadata. Metadata fingerprint: 42"));
    EXPECT_TRUE(bundle());
    EXPECT_FALSE(bundle());
    auto bundles = queuedBundles();
    ASSERT_EQ(bundles.size(), 2u);
    EXPECT_EQ(eventsOf(bundles[0].first).size(), 2u);
    EXPECT_EQ(namesOf(bundles[1].first), (std::vector<std::string>{"tick"}));
    EXPECT_EQ(count("raw_events"), 0);

    // Rows whose metadata row is there but holds bytes that never read: dropped as if it were
    // missing (nothing to give them instead), with one line, and so is that row.
    onWorker([&] {
        ASSERT_TRUE(context->database_->sqliteStore()->upsertRecord(
            {{"metadata_fingerprint", Value(77LL)}, {"metadata", Value(NSData{0xff, 0xff, 0xff})}},
            "raw_events_metadata", nullptr));
        ASSERT_TRUE(context->database_->insertRawEvent(event("lost", hour_ + 5), 77, false, nullptr));
    });
    writeRawEvents({event("tick", hour_ + 6)}, bundleMetadata);
    capture.clear();
    EXPECT_TRUE(bundle());
    EXPECT_EQ(capture.matching("[I-ACS023302]").size(), 1u);
    EXPECT_TRUE(capture.contains("[I-ACS023302] Dropping raw events without their metadata. Metadata fingerprint: 77"));
    EXPECT_TRUE(capture.matching("[I-ACS023098]").empty());
    EXPECT_TRUE(bundle());
    EXPECT_FALSE(bundle());
    ASSERT_EQ(queuedBundles().size(), 3u);
    EXPECT_EQ(namesOf(queuedBundles().back().first), (std::vector<std::string>{"tick"}));
    EXPECT_EQ(count("raw_events"), 0);
    EXPECT_EQ(count("raw_events_metadata"), 0);
}

// Raw events whose metadata row is missing, or holds bytes that never read, go with the metadata
// the app has now, with one line per group saying how many.
TEST_F(APMBundlerTest, RawEventsWhoseMetadataDidNotSurviveGoWithTheAppsCurrentOne) {
    LogCapture capture;
    context->currentMetadata_ = metadata(kTestAppID, "18.0");
    onWorker([&] {
        ASSERT_TRUE(context->database_->insertRawEvent(event("orphan", hour_), 42, false, nullptr));
        ASSERT_TRUE(context->database_->insertRawEvent(event("orphan", hour_ + 1), 42, false, nullptr));
        ASSERT_TRUE(context->database_->sqliteStore()->upsertRecord(
            {{"metadata_fingerprint", Value(77LL)}, {"metadata", Value(NSData{0xff, 0xff, 0xff})}},
            "raw_events_metadata", nullptr));
        ASSERT_TRUE(context->database_->insertRawEvent(event("lost", hour_ + 2), 77, false, nullptr));
    });

    EXPECT_EQ(bundleAll(), 2);
    EXPECT_EQ(capture.matching("[I-ACS023308]").size(), 2u);
    for (const char* count : {"2", "1"}) {
        EXPECT_TRUE(capture.contains(
            std::string("[I-ACS023308] Bundling raw events without their metadata with the app's current one. Count: ") +
            count));
    }
    EXPECT_TRUE(capture.matching("[I-ACS023302]").empty());
    const auto bundles = queuedBundles();
    ASSERT_EQ(bundles.size(), 2u);
    EXPECT_EQ(namesOf(bundles[0].first), (std::vector<std::string>{"orphan", "orphan"}));
    EXPECT_EQ(namesOf(bundles[1].first), (std::vector<std::string>{"lost"}));
    for (const auto& [bundle, id] : bundles) {
        EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kOsVersion), "18.0");
        EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kVuvAppId), kTestAppID);
    }
    EXPECT_EQ(count("raw_events"), 0);
    EXPECT_EQ(count("raw_events_metadata"), 0);
}

// Rows an older store may hold: sound event bytes under a time that is not after 1970, or
// beyond what a message's milliseconds hold. The pass that meets the first sets them all aside
// with one line, whatever their number, and the events around them, those at the edges of the
// valid times too, are bundled and reach the service.
TEST_F(APMBundlerTest, ARawEventWithoutAValidTimeIsSetAsideAndTheRestAreSent) {
    // The daily purge of stale rows ran a minute ago: it does not take them away first.
    onWorker([&] { context->persistedConfig_->setLastDeleteStaleBundlesTimestamp(kNow - 60); });
    auto bundleMetadata = metadata();
    writeRawEvents({}, bundleMetadata);
    const auto fingerprint = static_cast<long long>(apm_64LSBMD5(*bundleMetadata->protoBuffer()));
    auto storedAt = [&](const Value& timestamp, const std::string& name = "tick") {
        onWorker([&] {
            ASSERT_TRUE(context->database_->sqliteStore()->upsertRecord(
                {{"name", Value(name)},
                 {"timestamp", timestamp},
                 {"metadata_fingerprint", Value(fingerprint)},
                 {"data", Value(event("tick", hour_)->encodedProtoEvent(false))},
                 {"is_realtime", Value(0)}},
                "raw_events", nullptr));
        });
    };
    int n = 0;
    auto sound = [&] {
        writeRawEvents({event("tick", hour_ + n, {{"n", Value(n)}})}, bundleMetadata);
        ++n;
    };
    // The latest time whose milliseconds an int64 holds.
    double latest = 0x1p63 / 1000.0;
    while (!APMEvent::isValidTimestamp(latest)) latest = std::nextafter(latest, 0.0);
    sound();
    storedAt(Value(0.0));
    sound();
    storedAt(Value(-5.0));
    storedAt(Value(std::nextafter(0.001, 0.0)));
    storedAt(Value(0.001), "first");
    sound();
    storedAt(Value(1e300));
    storedAt(Value(std::nextafter(latest, 1e300)));
    storedAt(Value(latest), "last");
    storedAt(Value("noon"));
    sound();

    LogCapture capture;
    onWorker([&] { uploader->uploadData(); });
    settle();
    std::vector<long long> delivered;
    std::vector<std::string> edges;
    for (const auto& received : service.events()) {
        if (received.name == "tick") delivered.push_back(received.parameters.get("n").longLongValue());
        else edges.push_back(received.name);
    }
    EXPECT_EQ(delivered, (std::vector<long long>{0, 1, 2, 3}));
    EXPECT_EQ(edges, (std::vector<std::string>{"first", "last"}));
    const auto setAside = capture.matching("[I-ACS023306]");
    ASSERT_EQ(setAside.size(), 1u);
    EXPECT_NE(setAside[0].find("without a valid timestamp. Count, first RowID, its timestamp: 6, 2, 0"), std::string::npos)
        << setAside[0];
    // Nothing failed on the way: no bundle refused, no transaction rolled back.
    EXPECT_TRUE(capture.matching("[I-ACS023115]").empty());
    EXPECT_TRUE(capture.matching("[I-ACS012056]").empty());
    EXPECT_EQ(count("raw_events"), 0);
    EXPECT_EQ(count("queue"), 0);

    // Nor can such an event be stored again.
    NSErrorPtr refusal;
    onWorker([&] {
        auto carried = APMEvent::initWithOrigin("app", false, "tick", 0, 0, {}, APMEvent::Time::Carried);
        ASSERT_NE(carried, nullptr);
        EXPECT_FALSE(context->database_->insertRawEvent(carried, fingerprint, false, &refusal));
    });
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(refusal->localizedDescription(),
              "Received event without a valid timestamp for inserting in the database");
}

// Raw events whose metadata leaves their bundle without an app id, in an app that has none of its
// own to give it: the upload queue would refuse that bundle at every attempt. So are those whose
// metadata names the app neither by its Vizudi nor by its ZeViv App ID: the service could take
// them for no app. Each group is set aside with one line before it is counted, and the others
// are sent, those of an app the ads library alone started too.
TEST_F(APMBundlerTest, EventsWhoseBundleTheQueueWouldRefuseAreSetAsideUncounted) {
    ASSERT_TRUE(context->identity_->appID().empty()) << "the tests' main bundle has no identifier";
    auto withoutAppID = metadata();
    APMPBMessageClearField(withoutAppID, APMPBMeasurementBundle::kAppId);
    auto zevivOnly = metadata();
    APMPBMessageClearField(zevivOnly, APMPBMeasurementBundle::kVuvAppId);
    APMPBMessageSetString(zevivOnly, APMPBMeasurementBundle::kZevivAppId, "ca-app-pub-1~2");
    auto namingNoApp = metadata();
    APMPBMessageClearField(namingNoApp, APMPBMeasurementBundle::kVuvAppId);
    writeRawEvents({event("tick", hour_, {{"n", Value(0)}})});
    writeRawEvents({event("tick", hour_ + 1, {{"n", Value(1)}}), event("tock", hour_ + 2)}, withoutAppID);
    writeRawEvents({event("tick", hour_ + 3, {{"n", Value(2)}})});
    writeRawEvents({event("tock", hour_ + 4)}, namingNoApp);
    writeRawEvents({event("tick", hour_ + 5, {{"n", Value(3)}})}, zevivOnly);

    LogCapture capture;
    onWorker([&] { uploader->uploadData(); });
    settle();
    // Each app's bundles went in a batch of their own, one after the other.
    ASSERT_EQ(service.uploads().size(), 2u);
    EXPECT_EQ(service.uploads()[1].batch.appID, "");
    std::vector<long long> delivered;
    std::vector<std::int32_t> indexes;
    for (const auto& received : service.events()) {
        EXPECT_NE(received.name, "tock");
        if (received.name != "tick") continue;
        delivered.push_back(received.parameters.get("n").longLongValue());
        indexes.push_back(received.bundleIndex);
    }
    EXPECT_EQ(delivered, (std::vector<long long>{0, 2, 3}));
    const auto setAside = capture.matching("[I-ACS023307]");
    ASSERT_EQ(setAside.size(), 2u);
    EXPECT_NE(setAside[0].find("Failed to insert bundle without App ID"), std::string::npos) << setAside[0];
    EXPECT_NE(setAside[1].find("Bundle without a Vizudi or ZeViv App ID"), std::string::npos) << setAside[1];
    EXPECT_TRUE(capture.matching("[I-ACS023303]").empty());
    EXPECT_TRUE(capture.matching("[I-ACS023115]").empty());
    EXPECT_TRUE(capture.matching("[I-ACS012056]").empty());
    EXPECT_EQ(count("raw_events"), 0);
    EXPECT_EQ(count("raw_events_metadata"), 0);
    // The counters saw only what was bundled: three "tick" events, no "tock", three bundles.
    onWorker([&] {
        auto tick = context->database_->eventAggregatesWithName("tick", nullptr);
        ASSERT_TRUE(tick);
        EXPECT_EQ(tick->lifetimeCount(), 3);
        EXPECT_EQ(context->database_->eventAggregatesWithName("tock", nullptr), nullptr);
    });
    EXPECT_EQ(indexes, (std::vector<std::int32_t>{1, 2, 3}));
}

// The bundle carries each event's bytes as bundling writes them and the upload passes them on:
// they must be the messages the events themselves make, whatever their parameters hold.
TEST_F(APMBundlerTest, BundledAndUploadedEventsAreTheMessagesOfTheStoredEvents) {
    auto item = [](const std::string& id, double price, long long quantity) {
        return Value(Value::Dictionary{{"item_id", Value(id)},
                                       {"item_name", Value("\xE7\x94\xBB \xF0\x9F\x96\xBC\xEF\xB8\x8F")},
                                       {"price", Value(price)},
                                       {"quantity", Value(quantity)}});
    };
    std::vector<std::shared_ptr<APMEvent>> events = {
        event("view_item_list", hour_,
              {{"items", Value(Value::Array{item("a", 9.99, 1), item("b", -0.0, INT64_MAX), item("", 1e300, -1)})},
               {"item_list_name", Value("caf\xC3\xA9")}}),
        event("_vs", hour_ + 1,
              {{"_si", Value(APMValue::initWithInt64(INT64_MIN))},
               {"_sc", Value(APMValue::initWithString("GalleryViewController"))},
               {"_et", Value(APMValue::initWithInt64(1250))}}),
        event("numbers", hour_ + 1.5,
              {{"big", Value(APMValue::initWithInt64(INT64_MAX))},
               {"negative", Value(APMValue::initWithInt64(-1))},
               {"tiny", Value(APMValue::initWithDouble(5e-324))},
               {"text", Value(APMValue::initWithString("\xF0\x9F\x8E\xA8 \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"))},
               {"empty", Value(APMValue::initWithString(""))}}),
        realtime(event("_vs", hour_ + 2.25, {{"_si", Value(APMValue::initWithInt64(7))}})),
        event("ad_impression", hour_ + 3, {{"value", Value(0.25)}, {"currency", Value("EUR")}}),
        event("numbers", hour_ + 4),
    };
    writeRawEvents(events);

    // The events as they were stored, each given the time of its name's previous event in the group.
    std::vector<std::shared_ptr<APMEvent>> stored;
    onWorker([&] {
        auto fingerprint = context->database_->nextMetadataFingerprintToProcess(nullptr);
        ASSERT_TRUE(fingerprint);
        auto raws = context->database_->rawEventsWithMetadataFingerprint(*fingerprint, nullptr, nullptr);
        ASSERT_TRUE(raws);
        for (const auto& raw : *raws) stored.push_back(raw->rawEvent());
    });
    ASSERT_EQ(stored.size(), events.size());
    auto hex = [](const NSData& bytes) {
        std::string out;
        for (std::uint8_t byte : bytes) out += "0123456789abcdef"[byte >> 4], out += "0123456789abcdef"[byte & 15];
        return out;
    };
    std::vector<std::string> expected;
    std::map<std::string, double> lastFired;
    for (const auto& event : stored) {
        const std::string name = event->name() == "ad_impression" ? "_ai" : event->name();
        const double previous = lastFired.count(name) ? lastFired[name] : event->previousTimestamp();
        lastFired[name] = event->timestamp();
        APMEvent bundled(event->origin(), name, event->timestamp(), previous, event->parameters());
        expected.push_back(hex(*bundled.protoEvent()->protoBuffer()));
    }
    auto hexOf = [&](const std::vector<std::shared_ptr<APMPBEvent>>& messages) {
        std::vector<std::string> out;
        for (const auto& message : messages) out.push_back(hex(*message->protoBuffer()));
        return out;
    };

    EXPECT_TRUE(bundle());
    auto bundles = queuedBundles();
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(hexOf(eventsOf(bundles[0].first)), expected);

    std::optional<APMUploader::Batch> batch;
    onWorker([&] { batch = uploader->nextBatch(nullptr); });
    ASSERT_TRUE(batch);
    auto uploaded = APMPBMeasurementBatch::initWithBuffer(batch->payload);
    ASSERT_NE(uploaded, nullptr);
    // Exactly the bytes an encoding of the decoded batch gives, so nothing in it is stale or out of order.
    EXPECT_EQ(hex(*uploaded->protoBuffer()), hex(batch->payload));
    auto sent = APMPBMessageGetArray<APMPBMeasurementBundle>(uploaded, APMPBMeasurementBatch::kBundles);
    ASSERT_EQ(sent->size(), 1u);
    EXPECT_EQ(hexOf(eventsOf((*sent)[0].objectAs<APMPBMeasurementBundle>())), expected);
}

// Sampling: a configuration that samples some names at a rate, with the account's time zone.
class APMBundlerSamplingTest : public APMBundlerTest {
protected:
    void TearDown() override {
        SecureRandom::clearSeedForTesting();
        APMBundlerTest::TearDown();
    }
    void sample(const std::map<std::string, std::int32_t>& rates, std::int32_t offsetMinutes = 0,
                bool enabled = true) {
        auto config = makeMeasurementConfig({{"measurement.event_sampling_enabled", enabled ? "1" : "0"},
                                             {"measurement.account.time_zone_offset_minutes",
                                              std::to_string(offsetMinutes)}},
                                            ++version_);
        Value::Array items;
        for (const auto& [name, rate] : rates) {
            auto item = APMPBEventConfig::make();
            APMPBMessageSetString(item, APMPBEventConfig::kName, name);
            APMPBMessageSetInt32(item, APMPBEventConfig::kSamplingRate, rate);
            items.push_back(Value(item));
        }
        APMPBMessageSetArray(config, APMPBMeasurementConfig::kEventConfig, items);
        applyConfig(config);
    }
    std::vector<std::shared_ptr<APMPBEvent>> bundledEvents() {
        std::vector<std::shared_ptr<APMPBEvent>> events;
        for (const auto& [bundle, retries] : queuedBundles()) {
            for (const auto& event : eventsOf(bundle)) events.push_back(event);
        }
        return events;
    }
    std::shared_ptr<APMEventAggregates> aggregates(const std::string& name) {
        std::shared_ptr<APMEventAggregates> row;
        onWorker([&] { row = context->database_->eventAggregatesWithName(name, nullptr); });
        return row;
    }
    // The start of the UTC day kNow falls in.
    const double day_ = std::floor(kNow / 86400) * 86400;
    // Each configuration a later one, so that it replaces the one in force.
    std::int64_t version_ = 1;
};

TEST_F(APMBundlerSamplingTest, AboutOneInNIsKeptWithItsRateAndTheDaysFirstAlways) {
    const auto seed = static_cast<std::uint32_t>(std::random_device{}());
    std::cout << "sampling seed " << seed << "\n";
    SecureRandom::seedForTesting(seed);
    sample({{"tap", 10}});
    constexpr int kEvents = 3000;
    std::vector<std::shared_ptr<APMEvent>> events;
    for (int i = 0; i < kEvents; ++i) events.push_back(event("tap", day_ + 3600 + i * 0.5));
    events.push_back(event("other", day_ + 3600));
    writeRawEvents(events);
    bundleAll();

    const auto kept = bundledEvents();
    ASSERT_FALSE(kept.empty());
    int taps = 0;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const auto name = APMPBMessageGetString(kept[i], APMPBEvent::kName).value_or("");
        if (name == "other") {
            EXPECT_EQ(intParameter(kept[i], "_sr"), std::nullopt);
            continue;
        }
        EXPECT_EQ(intParameter(kept[i], "_sr"), 10);
        // Only the day's first can be the exempt one.
        if (taps > 0) {
            EXPECT_EQ(intParameter(kept[i], "_efs"), std::nullopt) << i;
        }
        ++taps;
    }
    // The first tap is kept whatever its roll; the other 2999 within six standard deviations
    // of one in ten (299.9 ± 98.6).
    EXPECT_EQ(APMPBMessageGetInt64(kept[0], APMPBEvent::kTimestampMillis), millis(day_ + 3600));
    EXPECT_GE(taps - 1, 201);
    EXPECT_LE(taps - 1, 399);
    auto row = aggregates("tap");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->lastSamplingRate(), 10);
    EXPECT_EQ(row->lastBundledDay(), static_cast<std::int32_t>(day_ / 86400));
    EXPECT_EQ(count("raw_events"), 0);
}

TEST_F(APMBundlerSamplingTest, TheDayFollowsTheAccountsTimeZoneAndAnEmptiedGroupIsConsumed) {
    SecureRandom::seedForTesting(7);
    // 65535 loses every roll of this seed's first few.
    sample({{"tap", 65535}}, -300);
    // 23:00 UTC is 18:00 of the account's day; 03:00 UTC the next day is still that day (22:00),
    // 06:00 UTC is the account's next day.
    writeRawEvents({event("tap", day_ + 23 * 3600)});
    writeRawEvents({event("tap", day_ + 27 * 3600, {{"_eid", Value(APMValue::initWithInt64(42))}})});
    writeRawEvents({event("tap", day_ + 30 * 3600)});
    EXPECT_TRUE(bundle());
    auto kept = bundledEvents();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(intParameter(kept[0], "_efs"), 1);
    EXPECT_EQ(intParameter(kept[0], "_sr"), 65535);
    EXPECT_TRUE(aggregates("tap")->lastExemptFromSampling());

    // Sampling empties the second group: no bundle, but its raw event is gone and the call counts.
    EXPECT_TRUE(bundle());
    EXPECT_EQ(bundledEvents().size(), 1u);
    EXPECT_EQ(aggregates("tap")->lastSampledComplexEventID(), 42);
    EXPECT_EQ(count("raw_events"), 1);

    EXPECT_TRUE(bundle());
    kept = bundledEvents();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(intParameter(kept[1], "_efs"), 1);
    EXPECT_EQ(aggregates("tap")->lastBundledDay(), static_cast<std::int32_t>(std::trunc((day_ + 25 * 3600) / 86400)));
}

TEST_F(APMBundlerSamplingTest, AWonRollClearsTheComplexIdAndAnOwnRateIsKept) {
    SecureRandom::seedForTesting(3);
    sample({{"tap", 2}, {"own", 2}});
    std::vector<std::shared_ptr<APMEvent>> events;
    for (int i = 0; i < 40; ++i) events.push_back(event("tap", day_ + 3600 + i, {{"_eid", Value(APMValue::initWithInt64(i))}}));
    events.push_back(event("own", day_ + 3700, {{"_sr", Value(APMValue::initWithInt64(5))}}));
    writeRawEvents(events);
    VerboseLogCapture log;
    EXPECT_TRUE(bundle());
    const auto kept = bundledEvents();
    // The last tap kept or dropped decides the stored complex id.
    std::int64_t lastTap = -1;
    for (const auto& event : kept) {
        const auto name = APMPBMessageGetString(event, APMPBEvent::kName).value_or("");
        if (name == "own") {
            EXPECT_EQ(intParameter(event, "_sr"), 5);
        }
        if (name == "tap") lastTap = *intParameter(event, "_eid");
    }
    EXPECT_GT(kept.size(), 2u);
    EXPECT_LT(kept.size(), 40u);
    const auto complexID = aggregates("tap")->lastSampledComplexEventID();
    if (lastTap == 39) {
        EXPECT_EQ(complexID, std::nullopt);
    } else {
        EXPECT_GT(complexID.value_or(-1), lastTap);
    }
    EXPECT_TRUE(log.contains("[I-ACS023156]"));
}

TEST_F(APMBundlerSamplingTest, NothingIsSampledWhenOffInDebugModeOrAtARateOfOne) {
    std::vector<std::shared_ptr<APMEvent>> events;
    for (int i = 0; i < 50; ++i) events.push_back(event("tap", day_ + 3600 + i));
    // The queue keeps every earlier pass's bundles.
    auto keptAll = [&] {
        writeRawEvents(events);
        bundleAll();
        return bundledEvents();
    };
    sample({{"tap", 10}}, 0, false);
    EXPECT_EQ(keptAll().size(), 50u);

    sample({{"tap", 1}});
    const auto atRateOne = keptAll();
    ASSERT_EQ(atRateOne.size(), 100u);
    // A rate of 1 samples nothing (and is refused with a silent line): no rate is added.
    EXPECT_EQ(intParameter(atRateOne.back(), "_sr"), std::nullopt);

    sample({{"tap", 1000}});
    APMMeasurementMonitor()->setDebugModeEnabled(true);
    const auto kept = keptAll();
    ASSERT_EQ(kept.size(), 150u);
    EXPECT_EQ(intParameter(kept.back(), "_sr"), std::nullopt);
}

}  // namespace
