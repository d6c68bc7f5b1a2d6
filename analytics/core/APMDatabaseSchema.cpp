// The measurement schema: thirteen tables, the columns added to older files and the column
// whose type changed; checked (and migrated by the store) on every opening.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMMonitor.h"

namespace {

using ColumnInfo = APMSqliteStore::ColumnInfo;

struct TableSchema {
    const char* name;
    ColumnInfo elementary;
    ColumnInfo addOn;
    APMSqliteStore::ModifyColumnInfo modify;
};

const std::vector<TableSchema>& measurementSchema() {
    static const std::vector<TableSchema> schema = {
        {"app_metadata",
         {{"last_bundle_index", "INTEGER NOT NULL"}, {"last_bundle_end_timestamp", "REAL NOT NULL"}},
         {{"last_bundle_start_timestamp", "REAL"},
          {"day", "INTEGER"},
          {"daily_conversions_count", "INTEGER"},
          {"daily_events_count", "INTEGER"},
          {"daily_public_events_count", "INTEGER"},
          {"daily_error_events_count", "INTEGER"},
          {"remote_config_data", "BLOB"},
          {"remote_config_timestamp", "REAL"},
          {"daily_real_time_conversion_events_count", "INTEGER"}},
         {}},
        {"raw_events_metadata",
         {{"metadata_fingerprint", "INTEGER NOT NULL PRIMARY KEY"}, {"metadata", "BLOB NOT NULL"}},
         {},
         {}},
        {"raw_events",
         {{"name", "TEXT NOT NULL"},
          {"timestamp", "INTEGER NOT NULL"},
          {"metadata_fingerprint", "INTEGER NOT NULL"},
          {"data", "BLOB NOT NULL"}},
         {{"is_realtime", "INTEGER"}},
         {{"timestamp", "REAL NOT NULL"}}},
        {"events",
         {{"name", "TEXT NOT NULL PRIMARY KEY"},
          {"lifetime_count", "INTEGER NOT NULL"},
          {"current_bundle_count", "INTEGER NOT NULL"},
          {"last_fire_timestamp", "REAL NOT NULL"}},
         {{"last_bundled_timestamp", "REAL"},
          {"last_sampled_complex_event_id", "INTEGER"},
          {"last_sampling_rate", "INTEGER"},
          {"last_exempt_from_sampling", "INTEGER"},
          {"last_bundled_day", "INTEGER"},
          {"current_session_count", "INTEGER"}},
         {}},
        {"user_attributes",
         {{"name", "TEXT NOT NULL PRIMARY KEY"}, {"set_timestamp", "REAL NOT NULL"}, {"value", "BLOB NOT NULL"}},
         {{"origin", "TEXT"}},
         {}},
        {"queue",
         {{"data", "BLOB NOT NULL"}, {"bundle_end_timestamp", "REAL NOT NULL"}},
         {{"is_realtime", "INTEGER"}, {"retry_count", "INTEGER"}},
         {}},
        {"event_filters",
         {{"audience_id", "INTEGER NOT NULL"},
          {"filter_id", "INTEGER NOT NULL"},
          {"event_name", "TEXT NOT NULL"},
          {"data", "BLOB NOT NULL"},
          {"PRIMARY KEY", "(audience_id, filter_id)"}},
         {{"session_scoped", "INTEGER"}},
         {}},
        {"property_filters",
         {{"audience_id", "INTEGER NOT NULL"},
          {"filter_id", "INTEGER NOT NULL"},
          {"property_name", "TEXT NOT NULL"},
          {"data", "BLOB NOT NULL"},
          {"PRIMARY KEY", "(audience_id, filter_id)"}},
         {{"session_scoped", "INTEGER"}},
         {}},
        {"audience_filter_values",
         {{"audience_id", "INTEGER NOT NULL PRIMARY KEY"}, {"current_results", "BLOB"}, {"previous_results", "BLOB"}},
         {},
         {}},
        {"purchase_transactions", {{"fingerprint", "TEXT NOT NULL PRIMARY KEY"}}, {}, {}},
        {"subscriptions", {{"subscription_id", "TEXT NOT NULL PRIMARY KEY"}}, {}, {}},
        {"conditional_properties",
         {{"name", "TEXT NOT NULL PRIMARY KEY"},
          {"origin", "TEXT NOT NULL"},
          {"value", "BLOB NOT NULL"},
          {"creation_timestamp", "REAL NOT NULL"},
          {"active", "INTEGER NOT NULL"},
          {"trigger_timeout", "REAL NOT NULL"},
          {"triggered_timestamp", "REAL NOT NULL"},
          {"time_to_live", "REAL NOT NULL"},
          {"trigger_event_name", "TEXT"},
          {"timed_out_event", "BLOB"},
          {"triggered_event", "BLOB"},
          {"expired_event", "BLOB"}},
         {},
         {}},
        {"main_event_params",
         {{"event_id", "INTEGER NOT NULL PRIMARY KEY"},
          {"children_to_process", "INTEGER NOT NULL"},
          {"main_event", "BLOB NOT NULL"}},
         {},
         {}},
    };
    return schema;
}

}  // namespace

bool APMDatabase::ensureAllTables(NSErrorPtr* failure) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(failure)) return false;
    for (const auto& table : measurementSchema()) {
        NSErrorPtr error;
        if (!sqliteStore_->ensureTableWithName(table.name, table.elementary, table.addOn, table.modify, &error)) {
            // Any failure counts: a table that did not pass is not there to be used.
            APMMeasurementMonitor()->logWithLevel(1, 12047, "Failed to ensure table. Table, error", Value(table.name),
                                                  error ? Value(error) : Value());
            setError(failure, error);
            return false;
        }
    }
    // The upload schedule is worked out after every event, asking for the newest raw event and
    // for any real-time one; without these indexes each question reads the whole table, so the
    // cost of an event grew with the number of events waiting to be bundled.
    for (const char* index : {"CREATE INDEX IF NOT EXISTS raw_events_timestamp ON raw_events (timestamp)",
                              "CREATE INDEX IF NOT EXISTS raw_events_realtime ON raw_events (is_realtime) "
                              "WHERE is_realtime = 1"}) {
        NSErrorPtr error;
        if (!sqliteStore_->executeSQL(index, &error)) {
            APMMeasurementMonitor()->logWithLevel(1, 12047, "Failed to ensure table. Table, error", Value("raw_events"),
                                                  error ? Value(error) : Value());
            setError(failure, error);
            return false;
        }
    }
    return true;
}
