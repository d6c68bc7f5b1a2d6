// How the rows of a damaged measurement database, kept aside while this one took events, join it
// (APMSalvage). Where the store's default does: raw events and bundles come before this file's
// own, as they were logged before; a fingerprint, purchase, subscription, filter or property this
// file has already is the same row. Here, the rows that count: the one app metadata row goes on
// from the kept one's counters, an event's counts are added together, and a user property takes
// the later value (the session id and number too: copies of the settings' session), but for
// lifetime values and counts, added together, and the first-open time, the earlier. The tables
// that refuse a new key past their limit keep within it, and the lifetime values within the
// currencies tracked: the store's own rows first, then the kept ones in their order.
#include "analytics/core/APMDatabase.h"

namespace {

// The bundle index is a 32-bit count; its own increment wraps it past the top and says so.
const char* const kAppMetadata =
    "UPDATE main.app_metadata SET "
    "last_bundle_index = min(app_metadata.last_bundle_index + coalesce(k.last_bundle_index, 0), 2147483647), "
    "last_bundle_start_timestamp = CASE WHEN k.last_bundle_end_timestamp > app_metadata.last_bundle_end_timestamp "
    "THEN k.last_bundle_start_timestamp ELSE app_metadata.last_bundle_start_timestamp END, "
    "last_bundle_end_timestamp = max(app_metadata.last_bundle_end_timestamp, coalesce(k.last_bundle_end_timestamp, "
    "app_metadata.last_bundle_end_timestamp)), "
    "day = CASE WHEN k.day > coalesce(app_metadata.day, -1) THEN k.day ELSE app_metadata.day END, "
    "%COUNTS%"
    "remote_config_data = CASE WHEN coalesce(k.remote_config_timestamp, 0) > coalesce(app_metadata.remote_config_timestamp, "
    "0) THEN k.remote_config_data ELSE app_metadata.remote_config_data END, "
    "remote_config_timestamp = CASE WHEN coalesce(k.remote_config_timestamp, 0) > "
    "coalesce(app_metadata.remote_config_timestamp, 0) THEN k.remote_config_timestamp ELSE "
    "app_metadata.remote_config_timestamp END "
    "FROM (SELECT * FROM kept.app_metadata ORDER BY rowid LIMIT 1) AS k WHERE app_metadata.rowid = 1";

// The day's counters: added on the same day, the later day's otherwise.
std::string dailyCounts() {
    std::string sql;
    for (const char* column : {"daily_conversions_count", "daily_events_count", "daily_public_events_count",
                               "daily_error_events_count", "daily_real_time_conversion_events_count"}) {
        const std::string own = std::string("app_metadata.") + column;
        const std::string kept = std::string("k.") + column;
        sql += std::string(column) + " = CASE WHEN k.day = app_metadata.day THEN coalesce(" + own + ", 0) + coalesce(" +
               kept + ", 0) WHEN k.day > coalesce(app_metadata.day, -1) THEN " + kept + " ELSE " + own + " END, ";
    }
    return sql;
}

std::string appMetadata() {
    std::string sql = kAppMetadata;
    sql.replace(sql.find("%COUNTS%"), 8, dailyCounts());
    return sql;
}

// The later of two values either of which may be null.
std::string later(const std::string& column) {
    return "max(coalesce(events." + column + ", k." + column + "), coalesce(k." + column + ", events." + column + "))";
}

const char* const kNumbers = "typeof(user_attributes.value) IN ('integer', 'real') AND typeof(k.value) IN ('integer', 'real')";
// A lifetime value or count, which the kept file counted up to.
const std::string kAdded =
    std::string("(substr(user_attributes.name, 1, 5) = '_ltv_' OR user_attributes.name = '_lte') AND ") + kNumbers;
const std::string kKeptWins =
    "NOT (" + kAdded + ") AND ((user_attributes.name = '_fot' AND typeof(k.value) IN ('integer', 'real') AND "
    "(typeof(user_attributes.value) NOT IN ('integer', 'real') OR k.value < user_attributes.value)) OR "
    "(user_attributes.name <> '_fot' AND k.set_timestamp > user_attributes.set_timestamp))";

}  // namespace

APMKeptRowsRules APMDatabase::keptRowsRules() {
    static const std::map<std::string, std::vector<std::string>> statements = {
        {"app_metadata",
         {appMetadata(),
          "INSERT INTO main.app_metadata (rowid, last_bundle_index, last_bundle_end_timestamp, "
          "last_bundle_start_timestamp, day, daily_conversions_count, daily_events_count, daily_public_events_count, "
          "daily_error_events_count, remote_config_data, remote_config_timestamp, "
          "daily_real_time_conversion_events_count) SELECT 1, last_bundle_index, last_bundle_end_timestamp, "
          "last_bundle_start_timestamp, day, daily_conversions_count, daily_events_count, daily_public_events_count, "
          "daily_error_events_count, remote_config_data, remote_config_timestamp, "
          "daily_real_time_conversion_events_count FROM kept.app_metadata WHERE NOT EXISTS (SELECT 1 FROM "
          "main.app_metadata WHERE rowid = 1) ORDER BY rowid LIMIT 1"}},
        {"events",
         {"UPDATE main.events SET lifetime_count = events.lifetime_count + k.lifetime_count, current_bundle_count = "
          "events.current_bundle_count + k.current_bundle_count, last_fire_timestamp = max(events.last_fire_timestamp, "
          "k.last_fire_timestamp), last_bundled_timestamp = " + later("last_bundled_timestamp") +
              ", last_bundled_day = " + later("last_bundled_day") + " FROM kept.events AS k WHERE events.name = k.name",
          "INSERT OR IGNORE INTO main.events (name, lifetime_count, current_bundle_count, last_fire_timestamp, "
          "last_bundled_timestamp, last_sampled_complex_event_id, last_sampling_rate, last_exempt_from_sampling, "
          "last_bundled_day, current_session_count) SELECT name, lifetime_count, current_bundle_count, "
          "last_fire_timestamp, last_bundled_timestamp, last_sampled_complex_event_id, last_sampling_rate, "
          "last_exempt_from_sampling, last_bundled_day, current_session_count FROM kept.events ORDER BY rowid"}},
        {"user_attributes",
         {"UPDATE main.user_attributes SET value = CASE WHEN " + kAdded + " THEN user_attributes.value + k.value WHEN " +
              kKeptWins + " THEN k.value ELSE user_attributes.value END, set_timestamp = CASE WHEN " + kAdded +
              " THEN max(user_attributes.set_timestamp, k.set_timestamp) WHEN " + kKeptWins +
              " THEN k.set_timestamp ELSE user_attributes.set_timestamp END, origin = CASE WHEN " + kKeptWins +
              " THEN k.origin ELSE user_attributes.origin END FROM kept.user_attributes AS k WHERE "
              "user_attributes.name = k.name",
          "INSERT OR IGNORE INTO main.user_attributes (name, set_timestamp, value, origin) SELECT name, set_timestamp, "
          "value, origin FROM kept.user_attributes ORDER BY rowid"}},
    };
    const std::int64_t currencies = limits().maxTrackedCurrencies;
    return {statements,
            {{"raw_events_metadata", {{"metadata_fingerprint", kRawEventsMetadataLimit, {}}}},
             {"events", {{"name", kEventsLimit, {}}}},
             {"user_attributes",
              {{"name", currencies, "substr(name, 1, 5) = '_ltv_'"}, {"name", kUserAttributesLimit, {}}}},
             {"conditional_properties", {{"name", kConditionalPropertiesLimit, {}}}}}};
}
