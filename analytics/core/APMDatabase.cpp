// The measurement database's file: opening (tables and the app metadata row), reset, and the
// transaction every multi-step write runs in.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMError.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMSalvage.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <string_view>

std::shared_ptr<APMDatabase> APMDatabase::initWithDatabaseName(const std::string& name,
                                                               std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                               NSErrorPtr* error,
                                                               std::shared_ptr<DispatchCancellation> salvageCancellation) {
    if (!APMCheckSuccess(!name.empty(), error, APMErrorInvalidArgument, "Received empty database name in init")) {
        return nullptr;
    }
    auto database = std::make_shared<APMDatabase>();
    database->salvageCancellation_ = std::move(salvageCancellation);
    if (!database->initializeDatabaseResourcesWithContext("Init", APMApplicationSupportPath(name), error)) {
        return nullptr;
    }
    database->persistedConfig_ = std::move(persistedConfig);
    // Opened wherever the owner happens to be; used on the owner's queue.
    database->detachFromSequence();
    return database;
}

void APMDatabase::detachFromSequence() {
    sequenceChecker_.detach();
    if (sqliteStore_) sqliteStore_->detachFromSequence();
}

bool APMDatabase::initializeDatabaseResourcesWithContext(const std::string& context, const std::string& databasePath,
                                                         NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto monitor = APMMeasurementMonitor();
    NSErrorPtr openError;
    // What is in the way of the file or its log (a folder, a link) goes aside as it opens.
    const auto store = APMSqliteStore::initWithDatabasePath(databasePath, &openError);
    if (!store) {
        // A folder that cannot be made, a full disk, a locked file: nothing is written, and
        // whatever was open before (a reset) is gone, so later calls fail as "Database not open".
        sqliteStore_.reset();
        monitor->logWithLevel(1, 12001, NSString::format("Failed to open database file (%@). Error", context),
                              openError ? Value(openError) : Value());
        setError(error, openError);
        return false;
    }
    sqliteStore_ = store;
    forgetKeptAnswers();
    std::weak_ptr<APMDatabase> weak = weakSelf<APMDatabase>();
    sqliteStore_->setChangeObserver([weak](const char* table, bool inserted, std::int64_t rowID) {
        if (auto database = weak.lock()) database->tableChanged(table, inserted, rowID);
    });
    // A write-ahead log synced at every commit (see APMSqliteStore::useWriteAheadLog): a logged
    // event outlasts a kill and a power cut, for one sync per commit. A file that cannot switch
    // goes on with its rollback journal.
    const auto useWriteAheadLog = [&] {
        NSErrorPtr walError;
        if (!sqliteStore_->useWriteAheadLog(&walError)) {
            monitor->logWithLevel(2, 12007, "Failed to switch the database to write-ahead logging. Error",
                                  walError ? Value(walError) : Value());
        }
    };
    useWriteAheadLog();
    NSErrorPtr ensureError;
    if (!ensureAllTables(&ensureError)) {
        const std::string message =
            NSString::format("Failed to create or validate required database tables (%@)", context);
        monitor->logWithLevel(1, 12002, message);
        // Only a file at fault is replaced, kept aside with its rows carried over below; after a
        // full disk, an I/O error or a busy file it stays as it is, and the store closes, so that
        // nothing is written until the next opening tries again.
        NSErrorPtr replaceError;
        if (!sqliteStore_->replaceFileIfAtFault(ensureError, &replaceError)) {
            APMSetError(error, APMErrorFailedPrecondition, message);
            return false;
        }
        useWriteAheadLog();
        if (!ensureAllTables(&ensureError)) {
            sqliteStore_->keepFileForNextOpening(ensureError);
            APMSetError(error, APMErrorFailedPrecondition, message);
            return false;
        }
    }
    // The log that making the tables wrote (a fresh file's takes hundreds of kilobytes), or that a
    // carry cut short left, gives its room back before anything else is written: on a nearly full
    // disk it would take the room of this launch's own events.
    NSErrorPtr logError;
    if (!sqliteStore_->emptyLog(&logError)) {
        monitor->logWithLevel(2, 12008, "Failed to empty the database's log. Error",
                              logError ? Value(logError) : Value());
    }
    // Whatever still reads of a file that was replaced, by this opening or by one that a kill or
    // a power cut ended before its rows were carried. A kept file that cannot be carried now
    // waits aside for the next opening (the salvage says why), and events are logged meanwhile.
    // The caller's queue waits for the reads, which the screen does not.
    const APMSalvage::Carried carried = APMSalvage::carryKeptFiles(*sqliteStore_, keptRowsRules(), salvageCancellation_);
    keptFilesWaiting_ = carried.waiting - carried.givenUp;
    forgetKeptAnswers();
    if (!initializeAppMetadata()) {
        const std::string message = NSString::format("Failed to initialize App Metadata table (%@)", context);
        monitor->logWithLevel(1, 12004, message);
        APMSetError(error, APMErrorFailedPrecondition, message);
        return false;
    }
    return true;
}

int APMDatabase::keptFilesWaiting() const {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return keptFilesWaiting_;
}

bool APMDatabase::reset(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    const std::string path = sqliteStore_->databasePath();
    if (!APMCheckSuccess(sqliteStore_->closeAndDeleteDatabase(), error, APMErrorFailedPrecondition,
                         "Failed to delete database data")) {
        return false;
    }
    return initializeDatabaseResourcesWithContext("Reset", path, error);
}

bool APMDatabase::performTransaction(const std::function<bool()>& block) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    NSErrorPtr error;
    if (!requireStore(&error)) return false;
    const bool succeeded = sqliteStore_->performTransactionWithError(&error, block);
    if (!succeeded) {
        forgetKeptAnswers();
        APMMeasurementMonitor()->logWithLevel(
            1, 12056, NSString::format("Transaction failed. %@", error ? error->localizedDescription() : std::string()));
    }
    return succeeded;
}

bool APMDatabase::requireStore(NSErrorPtr* error) const {
    return APMCheckSuccess(sqliteStore_ != nullptr, error, APMErrorFailedPrecondition, "Database not open");
}

void APMDatabase::forgetKeptAnswers() {
    uploadFacts_ = {};
    storedMetadataFingerprint_.reset();
    storedEventNames_.clear();
    writtenDailyCounts_.reset();
    rawEventRowIDs_.reset();
    storedUserAttributes_.reset();
    conditionalPropertiesEmpty_.reset();
}

void APMDatabase::tableChanged(const char* table, bool inserted, std::int64_t rowID) {
    if (!table) {
        forgetKeptAnswers();
        return;
    }
    const std::string_view name(table);
    if (name == "raw_events_metadata") {
        storedMetadataFingerprint_.reset();
    } else if (name == "events") {
        storedEventNames_.clear();
    } else if (name == "app_metadata") {
        writtenDailyCounts_.reset();
    } else if (name == "queue") {
        uploadFacts_.queueEmpty.reset();
        uploadFacts_.realtimeBundles.reset();
        uploadFacts_.latestBundleTime.reset();
    } else if (name == "user_attributes") {
        storedUserAttributes_.reset();
    } else if (name == "conditional_properties") {
        conditionalPropertiesEmpty_.reset();
    } else if (name == "raw_events") {
        if (inserted && rawEventRowIDs_) {
            auto& span = *rawEventRowIDs_;
            span = span ? std::pair(std::min(span->first, rowID), std::max(span->second, rowID)) : std::pair(rowID, rowID);
        } else {
            rawEventRowIDs_.reset();
        }
        if (inserted && insertingRawEvent_) {
            const auto [timestamp, realtime] = *insertingRawEvent_;
            uploadFacts_.rawEventsEmpty = false;
            if (auto& latest = uploadFacts_.latestRawEventTime) {
                *latest = latest->has_value() ? std::max(**latest, timestamp) : timestamp;
            }
            if (realtime) uploadFacts_.realtimeRawEvents = true;
        } else {
            uploadFacts_.rawEventsEmpty.reset();
            uploadFacts_.realtimeRawEvents.reset();
            uploadFacts_.latestRawEventTime.reset();
        }
    }
}

std::optional<bool> APMDatabase::keptBoolean(std::optional<bool>& kept, const char* query, NSErrorPtr* error,
                                             bool fixedText) {
    if (kept && sqliteStore_) return kept;
    kept = booleanForQuery(query, {}, error, fixedText);
    return kept;
}

std::optional<double> APMDatabase::keptDouble(std::optional<std::optional<double>>& kept, const char* query,
                                              NSErrorPtr* error) {
    if (kept && sqliteStore_) return *kept;
    NSErrorPtr queryError;
    const std::optional<double> answer = doubleForQuery(query, {}, &queryError);
    if (queryError) {
        if (error) *error = queryError;
        return std::nullopt;
    }
    kept = answer;
    return answer;
}
