// The database file as SQLite's own command-line shell sees it: the thirteen tables with
// their columns, types, NOT NULL flags and keys.
#include "APMDatabaseTestSupport.h"
#include "tests/fixtures/Subprocess.h"

#include <cstdio>
#include <string>

#ifndef APM_SQLITE3_CLI
#define APM_SQLITE3_CLI ""
#endif

namespace {

using APMDatabaseSchemaTest = APMDatabaseTestBase;

std::string runShell(const std::string& path, const std::string& command) {
    // Appended piece by piece: gcc 12 misreads the chained concatenation as an overflow.
    std::string line = "'";
    line.append(APM_SQLITE3_CLI).append("' -batch -readonly '").append(path).append("' \"").append(command);
    return runCommand(line.append("\" 2>&1")).output;
}

const char* const kExpectedColumns =
    "app_metadata|last_bundle_index|INTEGER|1|0\n"
    "app_metadata|last_bundle_end_timestamp|REAL|1|0\n"
    "app_metadata|last_bundle_start_timestamp|REAL|0|0\n"
    "app_metadata|day|INTEGER|0|0\n"
    "app_metadata|daily_conversions_count|INTEGER|0|0\n"
    "app_metadata|daily_events_count|INTEGER|0|0\n"
    "app_metadata|daily_public_events_count|INTEGER|0|0\n"
    "app_metadata|daily_error_events_count|INTEGER|0|0\n"
    "app_metadata|remote_config_data|BLOB|0|0\n"
    "app_metadata|remote_config_timestamp|REAL|0|0\n"
    "app_metadata|daily_real_time_conversion_events_count|INTEGER|0|0\n"
    "audience_filter_values|audience_id|INTEGER|1|1\n"
    "audience_filter_values|current_results|BLOB|0|0\n"
    "audience_filter_values|previous_results|BLOB|0|0\n"
    "conditional_properties|name|TEXT|1|1\n"
    "conditional_properties|origin|TEXT|1|0\n"
    "conditional_properties|value|BLOB|1|0\n"
    "conditional_properties|creation_timestamp|REAL|1|0\n"
    "conditional_properties|active|INTEGER|1|0\n"
    "conditional_properties|trigger_timeout|REAL|1|0\n"
    "conditional_properties|triggered_timestamp|REAL|1|0\n"
    "conditional_properties|time_to_live|REAL|1|0\n"
    "conditional_properties|trigger_event_name|TEXT|0|0\n"
    "conditional_properties|timed_out_event|BLOB|0|0\n"
    "conditional_properties|triggered_event|BLOB|0|0\n"
    "conditional_properties|expired_event|BLOB|0|0\n"
    "event_filters|audience_id|INTEGER|1|1\n"
    "event_filters|filter_id|INTEGER|1|2\n"
    "event_filters|event_name|TEXT|1|0\n"
    "event_filters|data|BLOB|1|0\n"
    "event_filters|session_scoped|INTEGER|0|0\n"
    "events|name|TEXT|1|1\n"
    "events|lifetime_count|INTEGER|1|0\n"
    "events|current_bundle_count|INTEGER|1|0\n"
    "events|last_fire_timestamp|REAL|1|0\n"
    "events|last_bundled_timestamp|REAL|0|0\n"
    "events|last_sampled_complex_event_id|INTEGER|0|0\n"
    "events|last_sampling_rate|INTEGER|0|0\n"
    "events|last_exempt_from_sampling|INTEGER|0|0\n"
    "events|last_bundled_day|INTEGER|0|0\n"
    "events|current_session_count|INTEGER|0|0\n"
    "main_event_params|event_id|INTEGER|1|1\n"
    "main_event_params|children_to_process|INTEGER|1|0\n"
    "main_event_params|main_event|BLOB|1|0\n"
    "property_filters|audience_id|INTEGER|1|1\n"
    "property_filters|filter_id|INTEGER|1|2\n"
    "property_filters|property_name|TEXT|1|0\n"
    "property_filters|data|BLOB|1|0\n"
    "property_filters|session_scoped|INTEGER|0|0\n"
    "purchase_transactions|fingerprint|TEXT|1|1\n"
    "queue|data|BLOB|1|0\n"
    "queue|bundle_end_timestamp|REAL|1|0\n"
    "queue|is_realtime|INTEGER|0|0\n"
    "queue|retry_count|INTEGER|0|0\n"
    "raw_events|name|TEXT|1|0\n"
    "raw_events|timestamp|REAL|1|0\n"
    "raw_events|metadata_fingerprint|INTEGER|1|0\n"
    "raw_events|data|BLOB|1|0\n"
    "raw_events|is_realtime|INTEGER|0|0\n"
    "raw_events_metadata|metadata_fingerprint|INTEGER|1|1\n"
    "raw_events_metadata|metadata|BLOB|1|0\n"
    "subscriptions|subscription_id|TEXT|1|1\n"
    "user_attributes|name|TEXT|1|1\n"
    "user_attributes|set_timestamp|REAL|1|0\n"
    "user_attributes|value|BLOB|1|0\n"
    "user_attributes|origin|TEXT|0|0\n";

TEST_F(APMDatabaseSchemaTest, CommandLineShellSeesTheThirteenTables) {
    if (std::string(APM_SQLITE3_CLI).empty()) GTEST_SKIP() << "sqlite3 shell not installed";
    EXPECT_EQ(runShell(path(), "SELECT count(*) FROM sqlite_master WHERE type='table'"), "13\n");
    EXPECT_EQ(runShell(path(),
                       "SELECT m.name, p.name, p.type, p.[notnull], p.pk FROM sqlite_master m JOIN "
                       "pragma_table_info(m.name) p WHERE m.type='table' ORDER BY m.name, p.cid"),
              kExpectedColumns);
    EXPECT_EQ(runShell(path(), "PRAGMA integrity_check"), "ok\n");
    const std::string filters = runShell(path(), ".schema event_filters");
    EXPECT_EQ(filters,
              "CREATE TABLE event_filters ( audience_id INTEGER NOT NULL, filter_id INTEGER NOT NULL, event_name TEXT "
              "NOT NULL, data BLOB NOT NULL, session_scoped INTEGER, PRIMARY KEY (audience_id, filter_id));\n");
    EXPECT_EQ(runShell(path(), "SELECT rowid, last_bundle_index FROM app_metadata"), "1|0\n");
}

}  // namespace
