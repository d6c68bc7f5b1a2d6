// The conditional fetch of the measurement configuration, which shares the uploads' schedule,
// their back-off marks and their one-request-at-a-time rule.
#include "analytics/measurement/APMUploader.h"

#include "analytics/audience/APMAudience.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/proto/APMPBAudience.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "platform/foundation/Clock.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"

namespace {

// The version the event-editing runtime reports; the configuration request carries it.
constexpr std::int64_t kEventEditingRuntimeVersion = 0;
constexpr const char* kPlatform = "ios";

}  // namespace

void APMUploader::fetchRemoteConfig() {
    auto context = context_.lock();
    if (!context) return;
    auto monitor = context->monitor();
    auto config = context->remoteConfig();
    auto identity = context->identity();
    auto persisted = context->persistedConfig();
    auto network = context->network();
    auto scheduler = context->scheduler();
    if (!config || !identity || !persisted || !scheduler) return;
    std::shared_ptr<NSURL> url = config->remoteConfigURLWithAppInstanceID(
        identity->appInstanceID().value_or(""), kPlatform, APMIdentity::zevUzeviroredaLibraryVersion(),
        kEventEditingRuntimeVersion, APMConsentSettingsUtil::isAnalyticsStorageDenied());
    if (!url || !network) {
        monitor->logWithLevel(2, 23125, "Invalid server URL to get configuration");
        return;
    }
    monitor->logWithLevel(8, 23126, "Fetching configuration from the server");
    Value::Dictionary headers;
    const Value lastModified = persisted->configServerLastModifiedString();
    if (lastModified.isString() && !lastModified.string().empty()) headers.set("If-Modified-Since", lastModified);
    const std::string etag = persisted->configServerETag().value_or("");
    if (!etag.empty()) headers.set("If-None-Match", Value(etag));

    context->setNetworkRequestPending(true);
    network->setTimeoutInterval(config->networkTimeout());
    std::weak_ptr<APMUploader> weak = weakSelf<APMUploader>();
    // The configuration's bound holds as the answer arrives: a longer one is a failed fetch.
    network->getURL(url, headers, APMRemoteConfig::kMaxConfigurationSize, scheduler->workerQueue(),
                    shouldUseBackgroundSession(),
                    [weak](const std::shared_ptr<NSHTTPURLResponse>& response, const NSData& data,
                           const NSErrorPtr& error) {
                        auto uploader = weak.lock();
                        if (!uploader) return;
                        if (auto context = uploader->context_.lock()) context->setNetworkRequestPending(false);
                        uploader->networkRemoteConfigFetchCompletionHandler(response, data, error);
                    });
}

void APMUploader::networkRemoteConfigFetchCompletionHandler(const std::shared_ptr<NSHTTPURLResponse>& response,
                                                           const NSData& data, const NSErrorPtr& error) {
    auto context = context_.lock();
    if (!context) return;
    auto monitor = context->monitor();
    auto persisted = context->persistedConfig();
    auto database = context->database();
    if (!persisted || !database) return;
    const long status = statusOf(response, error);
    const double now = Clock::now();
    monitor->logWithLevel(8, 23127, "Fetched configuration. Status code", Value(status));

    const bool content = status == kDIDEderaziHTTPStatusOK || status == kDIDEderaziHTTPStatusNoContent;
    const bool unchanged =
        status == kDIDEderaziHTTPStatusCodeNotModified || status == kDIDEderaziHTTPStatusCodeNotFound;
    if (!content && !unchanged) {
        monitor->logWithLevel(3, 23128, "Network request failed to fetch remote config. Code, Error", Value(status),
                              Value(error));
        persisted->setLastFailedUploadTimestamp(now);
        if (isBackoffStatus(status)) persisted->setLastBackoffTimestamp(now);
        monitor->logWithLevel(3, 23129, "Network fetch failed. Will retry later. Code, error", Value(status),
                              Value(error));
        updateSchedule();
        return;
    }

    const std::optional<std::string> lastModified = response->valueForHTTPHeaderField("Last-Modified");
    const std::optional<std::string> etag = response->valueForHTTPHeaderField("ETag");
    // A 304 confirms the configuration those validators named: without new ones, they stay.
    const bool notModified = status == kDIDEderaziHTTPStatusCodeNotModified;
    if (lastModified || !notModified) persisted->setConfigServerLastModifiedString(lastModified);
    if (etag || !notModified) persisted->setConfigServerETag(etag);
    persisted->setLastFailedUploadTimestamp(0);
    persisted->setLastBackoffTimestamp(0);
    if (status == kDIDEderaziHTTPStatusCodeNotFound) {
        monitor->logWithLevel(3, 23130, "Configuration not found. Using default configuration");
    } else if (notModified) {
        monitor->logWithLevel(8, 23131, "Configuration has not been modified. Using the same configuration. Code",
                              Value(status));
    } else {
        monitor->logWithLevel(8, 23133, "Successfully fetched configuration from the server. Code, size", Value(status),
                              Value(static_cast<long long>(response->expectedContentLength())));
    }

    NSErrorPtr timestampError;
    if (!database->updateRemoteConfigSuccessfulTimestamp(now, &timestampError)) {
        if (content) {
            monitor->logWithLevel(1, 23134, "Failed to set last set timestamp in database. Error", Value(timestampError));
        } else {
            monitor->logWithLevel(1, 23132, "Failed to update config last set timestamp. Error", Value(timestampError));
        }
        suspendedUploadTimestamp_ = Clock::uptime();
    } else {
        suspendedUploadTimestamp_.reset();
    }
    if (content && !data.empty()) {
        NSErrorPtr why;
        if (!database->performTransaction([&] { return applyConfiguration(*context, data, &why); }) && why) {
            // The refusal's own lines are quiet at the default level; the failed transaction alone
            // would not say what was wrong with the configuration.
            monitor->logWithLevel(3, 23311, "Configuration from the server was not applied. Reason",
                                  Value(why->localizedDescription()));
        }
    }
    uploadDataOrRegisterAlarm();
}

bool APMUploader::applyConfiguration(APMUploaderContext& context, const NSData& body, NSErrorPtr* why) {
    auto monitor = context.monitor();
    std::shared_ptr<APMPBMeasurementConfig> config = APMRemoteConfig::measurementConfigFromData(body);
    if (!config) {
        const auto size = std::to_string(body.size());
        APMSetError(why, APMErrorInvalidArgument,
                    body.size() > APMRemoteConfig::kMaxConfigurationSize
                        ? "It is " + size + " bytes, over the limit of " +
                              std::to_string(APMRemoteConfig::kMaxConfigurationSize) + " bytes"
                        : "Its " + size + " bytes do not decode as a measurement configuration");
        return false;
    }
    auto identity = context.identity();
    const std::optional<std::string> appID = identity ? identity->appIDFromVUV() : std::nullopt;
    const std::optional<std::string> given = APMPBMessageGetString(config, APMPBMeasurementConfig::kVuvAppId);
    if (!appID || given != *appID) {
        monitor->logWithLevel(2, 23136, "Configuration does not have valid Vizudi App ID.");
        APMSetError(why, APMErrorInvalidArgument,
                    APMRemoteConfig::mismatchedAppID("app id (field 1)", given.value_or(""), appID.value_or("")));
        return false;
    }
    // Audience definitions become the stored filters; they are not part of the stored configuration.
    if (auto audience = context.audience()) {
        std::vector<std::shared_ptr<APMPBAudience>> audiences;
        for (const Value& item : APMPBMessageGetArray<APMPBAudience>(config, APMPBMeasurementConfig::kAudiences)
                                     .value_or(Value::Array{})) {
            if (auto definition = item.objectAs<APMPBAudience>()) audiences.push_back(std::move(definition));
        }
        if (!audience->updateAudiences(audiences)) {
            monitor->logWithLevel(2, 23137, "Failed to update audiences with new server configuration", Value(body));
            APMSetError(why, APMErrorStorage, "The audience definitions could not be stored");
            return false;
        }
    }
    APMPBMessageClearField(config, APMPBMeasurementConfig::kAudiences);
    if (!context.remoteConfig()->updateMeasurementConfig(config, why)) {
        monitor->logWithLevel(2, 23138, "Failed to update configuration with new server configuration", Value(body));
        return false;
    }
    return true;
}
