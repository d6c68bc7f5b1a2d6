// The measurement engine's own SQLite database: its thirteen tables, the generic row
// operations, and the typed operations on raw events, the upload queue, counters, user
// attributes, audience filters, configuration, purchases and conditional properties.
// One class, one file of definitions per group of tables (named at each MARK below).
// The database lives on one sequence (the engine's worker queue) and has no lock of its own:
// in debug and sanitizer builds every operation asserts that sequence.
#pragma once

#include "analytics/core/APMKeptRowsMerge.h"
#include "analytics/core/APMSqliteStore.h"
#include "platform/dispatch/SequenceChecker.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_set>
#include <string>
#include <utility>
#include <vector>

class APMAppMetadata;
class APMConditionalUserProperty;
class APMDailyCounts;
class APMEvent;
class APMEventAggregates;
class APMEventFilter;
class APMFilterResult;
class APMPBMeasurementBundle;
class APMPBMeasurementConfig;
class APMPersistedConfig;
class APMPropertyFilter;
class APMRawEventData;
class APMUserAttribute;
class APMValue;
class DispatchCancellation;

// The remote configuration's storage limits, read on every use.
struct APMDatabaseLimits {
    std::int32_t maxEventsStored = 100000;                // kept within 0..1000000
    double maxQueueTime = 2419200;                        // kept within 604800..7862400
    double databaseDeleteStaleBundlesInterval = 86400;    // kept within 3600..604800
    std::int32_t maxTrackedCurrencies = 4;                // lifetime values, kept within 1..100
};

class APMDatabase : public NSObject {
public:
    using Row = Value::Dictionary;
    using CreateDataTypeBlock = std::function<std::shared_ptr<NSObject>(const Row& row, NSErrorPtr* error)>;
    // A queued bundle read back and the rowid of its queue row.
    using QueuedBundle = std::pair<std::shared_ptr<APMPBMeasurementBundle>, std::int64_t>;

    // MARK: File, opening, reset and transactions (APMDatabase.cpp)

    // Opens "<Application Support>/Vizudi/Measurement/<name>", ensures the tables and the
    // app metadata row. Nil when any of it fails. The database it returns is bound to no
    // sequence yet: its first operation binds it (and its store). Each opening carries the rows
    // of the kept files that wait (APMSalvage), reading them apart while the caller waits; once
    // `salvageCancellation` is cancelled, no opening reads any further.
    [[nodiscard]] static std::shared_ptr<APMDatabase> initWithDatabaseName(
        const std::string& name, std::shared_ptr<APMPersistedConfig> persistedConfig, NSErrorPtr* error,
        std::shared_ptr<DispatchCancellation> salvageCancellation = nullptr);
    [[nodiscard]] bool initializeDatabaseResourcesWithContext(const std::string& context,
                                                              const std::string& databasePath, NSErrorPtr* error);
    // Deletes the file and starts again empty. After a failure the database stays closed:
    // later calls fail with "Database not open" instead of writing to a deleted file.
    [[nodiscard]] bool reset(NSErrorPtr* error);
    // One exclusive transaction around the block: committed on true, rolled back otherwise.
    [[nodiscard]] bool performTransaction(const std::function<bool()>& block);

    // Hands the database (and its store) to another sequence: the next operation binds again.
    void detachFromSequence();

    const std::shared_ptr<APMSqliteStore>& sqliteStore() const { return sqliteStore_; }
    // The kept files whose rows the last opening left waiting and a later one may still carry:
    // while there are any, what the store lacks may be among them.
    int keptFilesWaiting() const;
    const std::shared_ptr<APMPersistedConfig>& persistedConfig() const { return persistedConfig_; }

    // MARK: Schema (APMDatabaseSchema.cpp)

    // Creates missing tables and columns and migrates changed column types; false (with the
    // store's error) at the first table that does not pass.
    [[nodiscard]] bool ensureAllTables(NSErrorPtr* error = nullptr);
    // How a damaged file's kept rows join the tables, where the store's default does not do, and
    // the tables' limits, with the lifetime values' as limits() says it now (APMDatabaseKeptRows.cpp).
    static APMKeptRowsRules keptRowsRules();
    // The rows a table holds at most: a new key beyond them is refused.
    static constexpr std::int64_t kRawEventsMetadataLimit = 100000;
    static constexpr std::int64_t kEventsLimit = 1000;
    static constexpr std::int64_t kUserAttributesLimit = 1000;
    static constexpr std::int64_t kConditionalPropertiesLimit = 1000;

    // MARK: Generic rows and shared column encodings (APMDatabaseRows.cpp)

    // Generic rows: "SELECT rowid, * ..." through the block; nil results are skipped.
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<NSObject>>> allDataTypesFromTableWithName(
        const std::string& table, std::int64_t tableLimit, NSErrorPtr* error, const CreateDataTypeBlock& block);
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<NSObject>>> dataTypesFromTableWithName(
        const std::string& table, const std::string& columnName, const Value& columnValue, NSErrorPtr* error,
        const CreateDataTypeBlock& block);
    [[nodiscard]] bool insertDataType(const Row& record, const std::string& table, NSErrorPtr* error);
    // Refused with "Table is full" when the key is new and the table holds tableLimit rows.
    [[nodiscard]] bool upsertDataType(const Row& record, const std::string& table, const std::string& columnName,
                                      const Value& columnValue, std::int64_t tableLimit, NSErrorPtr* error);
    [[nodiscard]] bool updateDataType(const Row& record, const std::string& table, const std::string& columnName,
                                      const Value& columnValue, NSErrorPtr* error);
    // The value column: text, real or integer (an array stores 0).
    static Value valueColumnFromValue(const std::shared_ptr<APMValue>& value);

    // MARK: App metadata and daily counts (APMDatabaseAppMetadata.cpp)

    [[nodiscard]] bool initializeAppMetadata();
    [[nodiscard]] std::shared_ptr<APMAppMetadata> queryAppMetadata(NSErrorPtr* error);
    [[nodiscard]] bool updateAppMetadata(const std::shared_ptr<APMAppMetadata>& appMetadata, NSErrorPtr* error);
    [[nodiscard]] std::shared_ptr<APMDailyCounts> dailyCounts(NSErrorPtr* error);
    [[nodiscard]] bool updateDailyCounts(const std::shared_ptr<APMDailyCounts>& dailyCounts, NSErrorPtr* error);
    // floor((now - midnight offset) / 86400).
    std::int32_t currentDay();

    // MARK: Raw events and their metadata (APMDatabaseRawEvents.cpp)

    [[nodiscard]] bool insertIfNotExistsRawEventMetadata(const std::shared_ptr<APMPBMeasurementBundle>& metadata,
                                                         NSErrorPtr* error);
    // The same for metadata already encoded, with its fingerprint (apm_64LSBMD5 of the bytes).
    [[nodiscard]] bool insertIfNotExistsRawEventMetadata(const NSData& bytes, std::int64_t fingerprint,
                                                         NSErrorPtr* error);
    // Nil when absent, or with the error when it cannot be had; `unreadable`, when given, tells
    // whether that is because the row stored holds metadata that can never be read.
    [[nodiscard]] std::shared_ptr<APMPBMeasurementBundle> queryRawEventsMetadataWithFingerprint(
        std::int64_t fingerprint, NSErrorPtr* error, bool* unreadable = nullptr);
    [[nodiscard]] bool deleteRawEventMetadataWithMetadataFingerprint(std::int64_t fingerprint, NSErrorPtr* error);
    [[nodiscard]] std::optional<bool> isRawEventsTableEmpty(NSErrorPtr* error);
    // Refuses an event whose time makes no event (APMEvent::isValidTimestamp).
    [[nodiscard]] bool insertRawEvent(const std::shared_ptr<APMEvent>& event, std::int64_t metadataFingerprint,
                                      bool isRealtime, NSErrorPtr* error);
    [[nodiscard]] std::optional<double> queryLatestRawEventTime(NSErrorPtr* error);
    // At most 1000, oldest first, while the filter agrees.
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMRawEventData>>> rawEventsWithMetadataFingerprint(
        std::int64_t fingerprint, NSErrorPtr* error, const APMSqliteStore::RowFilter& eventFilter);
    // The same rows as they are stored, for a reader that makes the events itself.
    [[nodiscard]] std::optional<std::vector<Row>> rawEventRowsWithMetadataFingerprint(
        std::int64_t fingerprint, NSErrorPtr* error, const APMSqliteStore::RowFilter& eventFilter);
    [[nodiscard]] std::optional<bool> containsRawEventWithMetadataFingerprint(std::int64_t fingerprint,
                                                                              NSErrorPtr* error);
    [[nodiscard]] bool deleteRawEventsWithMaxRowID(std::int64_t rowID, NSErrorPtr* error);
    // Deletes every raw event whose stored time makes no event (APMEvent::isValidTimestamp),
    // and the metadata no raw event uses any more; the number of raw events deleted.
    [[nodiscard]] std::optional<std::int64_t> deleteRawEventsWithoutValidTimestamp(NSErrorPtr* error);
    [[nodiscard]] std::optional<std::int64_t> nextMetadataFingerprintToProcess(NSErrorPtr* error);
    [[nodiscard]] std::shared_ptr<APMRawEventData> rawEventDataFromDictionary(const Row& row, NSErrorPtr* error);
    [[nodiscard]] std::optional<bool> containsRealtimeRawEventsWithError(NSErrorPtr* error);

    // MARK: Upload queue (APMDatabaseQueue.cpp)

    [[nodiscard]] std::optional<bool> isQueuedBundleTableEmpty(NSErrorPtr* error);
    [[nodiscard]] bool insertBundle(const std::shared_ptr<APMPBMeasurementBundle>& bundle, bool isRealtime,
                                    NSErrorPtr* error);
    // Whether insertBundle takes a bundle of this app id and end time (ms), for a bundle that is
    // not empty; the error says why not. Asked before a bundle is built, so that one it would
    // refuse at every attempt is known in time.
    [[nodiscard]] static bool isQueueableBundle(const std::string& appID, std::int64_t endTimestampMillis,
                                                NSErrorPtr* error);
    // Row ids are numbers; counters stop at INT32_MAX.
    [[nodiscard]] bool incrementRetryCounterForBundlesWithIDs(const Value::Array& rowIDs, NSErrorPtr* error);
    // Oldest first within the count limit; the first bundle always, later ones while the
    // uncompressed sizes fit the size limit. Rows that cannot be read are passed over; when
    // `unreadableRowIDs` is given, it receives those among the rows read.
    [[nodiscard]] std::optional<std::vector<QueuedBundle>> queryBundlesWithCountLimit(
        std::int64_t countLimit, std::int64_t sizeLimit, NSErrorPtr* error,
        std::vector<std::int64_t>* unreadableRowIDs = nullptr);
    [[nodiscard]] std::optional<std::vector<QueuedBundle>> queryBundlesWithRowIDs(const Value::Array& rowIDs,
                                                                                  NSErrorPtr* error);
    [[nodiscard]] bool deleteBundlesWithRowIDs(const Value::Array& rowIDs, NSErrorPtr* error);
    [[nodiscard]] std::optional<double> queryLatestBundleTime(NSErrorPtr* error);
    [[nodiscard]] std::optional<bool> containsRealtimeBundlesWithError(NSErrorPtr* error);

    // MARK: Storage limits and purges (APMDatabaseMaintenance.cpp)

    // The engine's current limits; the defaults until a provider is set. Values are clamped.
    // The provider is called with no lock of this class held, so it may take its own.
    static void setLimitsProvider(std::function<APMDatabaseLimits()> provider);
    static APMDatabaseLimits limits();
    // Purges stale raw events and bundles at most once per interval: true when it ran.
    [[nodiscard]] std::optional<bool> maybeDeleteStaleData(NSErrorPtr* error);
    [[nodiscard]] bool deleteStaleBundlesOlderThanMaxAge(double maxAge, NSErrorPtr* error);
    [[nodiscard]] bool deleteUnusedRawEventsMetadata(NSErrorPtr* error);
    // Keeps the newest maxEventsStored - 1 rows; the number deleted.
    [[nodiscard]] std::optional<std::int64_t> deleteRawEventsOverAbsoluteLimit(NSErrorPtr* error);
    [[nodiscard]] bool deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, NSErrorPtr* error);

    // MARK: Event aggregates (APMDatabaseEventAggregates.cpp)

    [[nodiscard]] std::optional<std::int64_t> publicEventCount(NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMEventAggregates>>> allEventAggregates(NSErrorPtr* error);
    [[nodiscard]] std::shared_ptr<APMEventAggregates> eventAggregatesWithName(const std::string& name,
                                                                              NSErrorPtr* error);
    // Whether a readable aggregate row of that name is stored; nothing (and the error) when the
    // row cannot be read.
    [[nodiscard]] std::optional<bool> hasEventAggregatesWithName(const std::string& name, NSErrorPtr* error);
    [[nodiscard]] bool updateEventAggregates(const std::shared_ptr<APMEventAggregates>& eventAggregates,
                                             NSErrorPtr* error);
    [[nodiscard]] bool clearCurrentSessionCounts(NSErrorPtr* error);

    // MARK: User attributes (APMDatabaseUserAttributes.cpp)

    [[nodiscard]] std::optional<std::int64_t> publicUserAttributeCount(NSErrorPtr* error);
    [[nodiscard]] std::optional<std::int64_t> userAttributeCountForOrigin(const std::string& origin, NSErrorPtr* error);
    [[nodiscard]] std::optional<bool> containsUserAttributeWithName(const std::string& name, NSErrorPtr* error);
    [[nodiscard]] std::shared_ptr<APMUserAttribute> userAttributeWithName(const std::string& name, NSErrorPtr* error);
    // Names beginning with "_ltv_" (literally), newest set first.
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> allLifetimeValueUserAttributes(
        NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> userAttributesIncludingInternal(
        bool includeInternal, NSErrorPtr* error);
    [[nodiscard]] bool updateUserAttribute(const std::shared_ptr<APMUserAttribute>& userAttribute, NSErrorPtr* error);
    [[nodiscard]] bool deleteUserAttributeWithName(const std::string& name, NSErrorPtr* error);

    // MARK: Audience filters and results (APMDatabaseAudienceFilters.cpp)

    // Audience id -> its stored result; nothing (and the error) when the table cannot be read.
    [[nodiscard]] std::optional<std::map<std::int32_t, std::shared_ptr<APMFilterResult>>> allFilterResults(
        NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<std::int64_t>> allAudienceIDs(NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMEventFilter>>> eventFiltersForEventName(
        const std::string& eventName, NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMPropertyFilter>>> propertyFiltersForPropertyName(
        const std::string& propertyName, NSErrorPtr* error);
    [[nodiscard]] std::shared_ptr<APMFilterResult> filterResultForAudienceID(std::int32_t audienceID,
                                                                             NSErrorPtr* error);
    [[nodiscard]] bool deleteFilterResults(const std::vector<std::shared_ptr<APMFilterResult>>& filterResults,
                                           NSErrorPtr* error);
    // Audience id -> its session-scoped filter ids.
    [[nodiscard]] std::optional<std::map<std::int64_t, std::vector<std::int64_t>>> allSessionScopedFilters(
        NSErrorPtr* error);
    [[nodiscard]] bool updateEventFilters(const std::vector<std::shared_ptr<APMEventFilter>>& eventFilters,
                                          NSErrorPtr* error);
    [[nodiscard]] bool updatePropertyFilters(const std::vector<std::shared_ptr<APMPropertyFilter>>& propertyFilters,
                                             NSErrorPtr* error);
    [[nodiscard]] bool updateFilterResults(const std::vector<std::shared_ptr<APMFilterResult>>& filterResults,
                                           NSErrorPtr* error);
    [[nodiscard]] bool deleteEventFilters(const std::vector<std::shared_ptr<APMEventFilter>>& eventFilters,
                                          NSErrorPtr* error);
    [[nodiscard]] bool deletePropertyFilters(const std::vector<std::shared_ptr<APMPropertyFilter>>& propertyFilters,
                                             NSErrorPtr* error);
    [[nodiscard]] bool deleteAllEventFilters(NSErrorPtr* error);
    [[nodiscard]] bool deleteAllPropertyFilters(NSErrorPtr* error);

    // MARK: Remote configuration (APMDatabaseRemoteConfig.cpp)

    [[nodiscard]] bool updateRemoteConfig(const std::shared_ptr<APMPBMeasurementConfig>& config, NSErrorPtr* error);
    [[nodiscard]] bool updateRemoteConfigSuccessfulTimestamp(double timestamp, NSErrorPtr* error);
    [[nodiscard]] std::shared_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(NSErrorPtr* error);
    [[nodiscard]] std::optional<double> lastRemoteConfigUpdateTimestamp(NSErrorPtr* error);

    // MARK: Purchase and subscription de-duplication (APMDatabaseDeduplication.cpp)

    // True when new and now recorded, false when already known (or empty); nothing on failure.
    [[nodiscard]] std::optional<bool> insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                                              NSErrorPtr* error);
    // A purchase that could not be reported is forgotten, so that it is reported when it comes
    // again; true also when it was not known.
    [[nodiscard]] bool deletePurchaseFingerprint(const std::string& fingerprint, NSErrorPtr* error);
    [[nodiscard]] std::optional<bool> insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                                         NSErrorPtr* error);
    [[nodiscard]] std::optional<std::int64_t> deleteSubscriptionsOverLimit(NSErrorPtr* error);

    // MARK: Conditional user properties (APMDatabaseConditionalProperties.cpp)

    [[nodiscard]] std::shared_ptr<APMConditionalUserProperty> conditionalUserPropertyWithName(const std::string& name,
                                                                                              NSErrorPtr* error);
    [[nodiscard]] bool updateConditionalUserProperty(const std::shared_ptr<APMConditionalUserProperty>& property,
                                                     NSErrorPtr* error);
    [[nodiscard]] bool deleteConditionalUserPropertyWithName(const std::string& name, NSErrorPtr* error);
    // True when no conditional user property is stored (asked before every event).
    [[nodiscard]] std::optional<bool> conditionalUserPropertiesEmptyWithError(NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
    timedOutConditionalUserPropertiesWithError(NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
    expiredConditionalUserPropertiesWithError(NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
    triggeredConditionalUserPropertiesWithEventName(const std::string& eventName, NSErrorPtr* error);
    // Names that begin with the prefix and origins equal to the origin (either may be empty).
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
    conditionalUserPropertiesWithPrefix(const std::string& prefix, const std::string& origin, NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
    conditionalUserPropertiesWithCondition(const std::string& condition, const Value::Array& parameterValues,
                                           NSErrorPtr* error);

    // MARK: Complex events (APMDatabaseComplexEvents.cpp)

    [[nodiscard]] std::optional<std::pair<std::shared_ptr<APMEvent>, std::int64_t>>
    mainEventAndChildCountPairWithEventID(std::int64_t eventID, NSErrorPtr* error);
    [[nodiscard]] bool updateComplexEventForAudienceEvaluationWithEventID(std::int64_t eventID,
                                                                          std::int64_t childEventCount,
                                                                          const std::shared_ptr<APMEvent>& mainEvent,
                                                                          NSErrorPtr* error);
    [[nodiscard]] bool deleteComplexEventForAudienceEvaluationWithEventID(std::int64_t eventID, NSErrorPtr* error);

    APMDatabase() = default;

private:
    // Store calls when there is no store (a failed first open): "Database not open".
    [[nodiscard]] bool requireStore(NSErrorPtr* error) const;
    [[nodiscard]] std::optional<bool> booleanForQuery(const std::string& query, const Value::Array& values,
                                                      NSErrorPtr* error, bool fixedText = false);
    [[nodiscard]] std::optional<double> doubleForQuery(const std::string& query, const Value::Array& values,
                                                       NSErrorPtr* error);
    [[nodiscard]] std::optional<QueuedBundle> queuedBundleFromRow(const Row& row, NSErrorPtr* error);
    [[nodiscard]] std::shared_ptr<APMUserAttribute> userAttributeFromRow(const Row& row, NSErrorPtr* error);
    [[nodiscard]] std::shared_ptr<APMConditionalUserProperty> conditionalUserPropertyFromRow(const Row& row,
                                                                                             NSErrorPtr* error);
    // An event stored as its encoded message (conditional properties, complex events); one a
    // conditional property carries is held to the carried events' time rule (APMEvent::Time).
    [[nodiscard]] static std::shared_ptr<APMEvent> eventFromBlob(const Value& blob, NSErrorPtr* error,
                                                                 bool carried = false);
    static std::optional<NSData> blobFromEvent(const std::shared_ptr<APMEvent>& event);

    // What the upload schedule asks after every event, answered from memory while the rows behind
    // an answer stay as they were: the store reports every change, which forgets the answers it
    // may touch, except that a raw event inserted here is folded into them.
    struct UploadFacts {
        std::optional<bool> rawEventsEmpty;
        std::optional<bool> realtimeRawEvents;
        std::optional<std::optional<double>> latestRawEventTime;
        std::optional<bool> queueEmpty;
        std::optional<bool> realtimeBundles;
        std::optional<std::optional<double>> latestBundleTime;
    };
    void tableChanged(const char* table, bool inserted, std::int64_t rowID);
    void forgetKeptAnswers();
    // A kept answer, else the query's (kept when it succeeded). The query text is made only when run.
    [[nodiscard]] std::optional<bool> keptBoolean(std::optional<bool>& kept, const char* query, NSErrorPtr* error,
                                                  bool fixedText = false);
    [[nodiscard]] std::optional<double> keptDouble(std::optional<std::optional<double>>& kept, const char* query,
                                                   NSErrorPtr* error);

    std::shared_ptr<APMSqliteStore> sqliteStore_;
    std::shared_ptr<APMPersistedConfig> persistedConfig_;
    std::shared_ptr<DispatchCancellation> salvageCancellation_;
    int keptFilesWaiting_ = 0;
    UploadFacts uploadFacts_;
    // Metadata known to be stored and readable, while raw_events_metadata stays as it was: most
    // events share their metadata with the one before.
    std::optional<std::int64_t> storedMetadataFingerprint_;
    // Names with a readable aggregate row, while the events table stays as it was.
    std::unordered_set<std::string> storedEventNames_;
    // The daily counts last written, while the app metadata row stays as written.
    std::shared_ptr<APMDailyCounts> writtenDailyCounts_;
    // The raw event insertRawEvent is writing: its timestamp and real-time mark.
    std::optional<std::pair<double, bool>> insertingRawEvent_;
    // The lowest and highest rowid of raw_events (nothing inside for an empty table), while the
    // table only gains rows: inserted rowids are folded in, anything else forgets it.
    std::optional<std::optional<std::pair<std::int64_t, std::int64_t>>> rawEventRowIDs_;
    // Every user attribute row, oldest first, while user_attributes stays as it was: each event
    // carries them in its metadata.
    std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> storedUserAttributes_;
    // Whether conditional_properties is empty, while it stays as it was.
    std::optional<bool> conditionalPropertiesEmpty_;
    SequenceChecker sequenceChecker_{"APMDatabase"};
};
