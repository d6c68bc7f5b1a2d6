// The stored measurement configuration, and the purchase and subscription de-duplication lists.
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMError.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "platform/foundation/Clock.h"

namespace {

constexpr std::int64_t kDeduplicationLimit = 1000;

}  // namespace

bool APMDatabase::updateRemoteConfig(const std::shared_ptr<APMPBMeasurementConfig>& config, NSErrorPtr* error) {
    const NSData bytes = config ? config->protoBuffer().value_or(NSData{}) : NSData{};
    if (!APMCheckSuccess(!bytes.empty(), error, 1, "Invalid measurement config data")) return false;
    if (!APMCheckSuccess(!APMPBMessageGetString(config, APMPBMeasurementConfig::kVuvAppId).value_or("").empty(), error,
                         1, "Missing Vizudi app ID in measurement configuration")) {
        return false;
    }
    const Row row = {{"remote_config_data", Value(bytes)}, {"remote_config_timestamp", Value(Clock::now())}};
    return updateDataType(row, "app_metadata", "rowid", Value("1"), error);
}

bool APMDatabase::updateRemoteConfigSuccessfulTimestamp(double timestamp, NSErrorPtr* error) {
    return updateDataType({{"remote_config_timestamp", Value(timestamp)}}, "app_metadata", "rowid", Value("1"), error);
}

std::shared_ptr<APMPBMeasurementConfig> APMDatabase::queryMeasurementConfigWithError(NSErrorPtr* error) {
    if (!requireStore(error)) return nullptr;
    auto rows = sqliteStore_->recordsForQuery("SELECT remote_config_data FROM app_metadata LIMIT 1", {}, error);
    if (!rows || rows->empty()) return nullptr;
    const Value& data = rows->front().get("remote_config_data");
    if (!data.isData() || data.data().empty()) return nullptr;
    auto config = APMPBMeasurementConfig::initWithBuffer(data.data());
    if (!APMCheckSuccess(config != nullptr, error, 2, "Remote config data is corrupted")) return nullptr;
    return config;
}

std::optional<double> APMDatabase::lastRemoteConfigUpdateTimestamp(NSErrorPtr* error) {
    return doubleForQuery("SELECT remote_config_timestamp FROM app_metadata LIMIT 1", {}, error);
}

// A failed look-up, write or trim is a failure whether or not the caller asked for the
// error: answering "new" after a failed write would report the purchase twice.
std::optional<bool> APMDatabase::insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                                         NSErrorPtr* error) {
    if (fingerprint.empty()) return false;
    if (!requireStore(error)) return std::nullopt;
    auto exists = booleanForQuery("SELECT EXISTS (SELECT 1 FROM purchase_transactions WHERE fingerprint = ? LIMIT 1)",
                                  {Value(fingerprint)}, error);
    if (!exists) return std::nullopt;
    if (*exists) return false;
    if (!sqliteStore_->upsertRecord({{"fingerprint", Value(fingerprint)}}, "purchase_transactions", error)) {
        return std::nullopt;
    }
    if (!sqliteStore_->deleteRecordsFromTableWithName(
            "purchase_transactions",
            "rowid IN (SELECT rowid FROM purchase_transactions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
            {Value(kDeduplicationLimit)}, error)) {
        return std::nullopt;
    }
    return true;
}

std::optional<bool> APMDatabase::insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                                    NSErrorPtr* error) {
    if (subscriptionID.empty()) return false;
    if (!requireStore(error)) return std::nullopt;
    auto exists = booleanForQuery("SELECT EXISTS (SELECT 1 FROM subscriptions WHERE subscription_id = ? LIMIT 1)",
                                  {Value(subscriptionID)}, error);
    if (!exists) return std::nullopt;
    if (*exists) return false;
    if (!sqliteStore_->upsertRecord({{"subscription_id", Value(subscriptionID)}}, "subscriptions", error)) {
        return std::nullopt;
    }
    return true;
}

std::optional<std::int64_t> APMDatabase::deleteSubscriptionsOverLimit(NSErrorPtr* error) {
    if (!requireStore(error)) return std::nullopt;
    return sqliteStore_->deleteRecordsFromTableWithName(
        "subscriptions", "rowid IN (SELECT rowid FROM subscriptions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
        {Value(kDeduplicationLimit)}, error);
}
