// The stored measurement configuration and the time of its last successful fetch.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMError.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "platform/foundation/Clock.h"

bool APMDatabase::updateRemoteConfig(const std::shared_ptr<APMPBMeasurementConfig>& config, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    const NSData bytes = config ? config->protoBuffer().value_or(NSData{}) : NSData{};
    if (!APMCheckSuccess(!bytes.empty(), error, APMErrorInvalidArgument, "Invalid measurement config data")) {
        return false;
    }
    if (!APMCheckSuccess(!APMPBMessageGetString(config, APMPBMeasurementConfig::kVuvAppId).value_or("").empty(), error,
                         APMErrorInvalidArgument, "Missing Vizudi app ID in measurement configuration")) {
        return false;
    }
    const Row row = {{"remote_config_data", Value(bytes)}, {"remote_config_timestamp", Value(Clock::now())}};
    return updateDataType(row, "app_metadata", "rowid", Value("1"), error);
}

bool APMDatabase::updateRemoteConfigSuccessfulTimestamp(double timestamp, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return updateDataType({{"remote_config_timestamp", Value(timestamp)}}, "app_metadata", "rowid", Value("1"), error);
}

std::shared_ptr<APMPBMeasurementConfig> APMDatabase::queryMeasurementConfigWithError(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return nullptr;
    auto rows = sqliteStore_->recordsForQuery("SELECT remote_config_data FROM app_metadata LIMIT 1", {}, error);
    if (!rows || rows->empty()) return nullptr;
    const Value& data = rows->front().get("remote_config_data");
    if (!data.isData() || data.data().empty()) return nullptr;
    auto config = APMPBMeasurementConfig::initWithBuffer(data.data());
    if (!APMCheckSuccess(config != nullptr, error, APMErrorFailedPrecondition, "Remote config data is corrupted")) {
        return nullptr;
    }
    return config;
}

std::optional<double> APMDatabase::lastRemoteConfigUpdateTimestamp(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return doubleForQuery("SELECT remote_config_timestamp FROM app_metadata LIMIT 1", {}, error);
}
