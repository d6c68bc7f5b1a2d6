// On-device conversion measurement: the user's e-mail address goes to the optional
// private-set-membership client, whose request the engine sends (one request of the engine at a
// time, retried with back-off); a match is kept as "_psmvalue" for 90 days and reported as the
// real-time event "_fx".
#include "analytics/measurement/APMMeasurement.h"

#include "analytics/core/APMAlarm.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMValue.h"
#include "analytics/measurement/APMMeasurementNames.h"
#include "analytics/measurement/APMPrivateSetMembershipClient.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/APMUploader.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"

#include <cmath>

namespace {

// An answer is a match value, not a data set.
constexpr std::uint64_t kMaxPSMAnswer = 64 * 1024;

}  // namespace

void APMMeasurement::setUserData(const Value::Dictionary& userData) {
    scheduleOnWorker("APMMeasurement:UserData",
                     [userData](APMMeasurement& engine) { engine.setUserDataOnWorkerQueue(userData); });
}

void APMMeasurement::setUserDataOnWorkerQueue(const Value::Dictionary& userData) {
    const Value& address = userData.get("email_address");
    if (!address.isString()) return;
    const std::string emailAddress = address.string();
    if (!shouldRetrievePSMResponseWithEmailAddress(emailAddress)) return;
    ++PSMStartCount_;
    PSMRetryCount_ = 0;
    privateSetMembershipClient_ = PSMClientWithEmailAddress(emailAddress);
    if (privateSetMembershipClient_) retrievePSMResponse();
    monitor()->logWithLevel(7, 23225, "Initiated on-device conversion measurement");
}

bool APMMeasurement::shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress) {
    auto log = monitor();
    auto config = remoteConfig();
    if (emailAddress.empty()) {
        log->logWithLevel(1, 23234, "Failed to initiate on-device conversion measurement. Email address was empty.");
        return false;
    }
    if (!ClassRegistry::isRegistered(APMPrivateSetMembershipClient::kClassName)) {
        log->logWithLevel(1, 23233,
                          "Failed to initiate on-device conversion measurement. VizudiZevUzeviroredaOnDeviceConversion "
                          "dependency not linked in.");
        return false;
    }
    if (!config->PSMFeatureEnabled()) return false;
    if (isPSMRequestInProgress_) {
        log->logWithLevel(1, 23235,
                          "Failed to initiate on-device conversion measurement. Request to query data set for on-device "
                          "conversion measurement already in progress.");
        return false;
    }
    if (PSMStartCount_ >= config->maxPSMStartCount()) {
        log->logWithLevel(1, 23236, "Failed to initiate on-device conversion measurement. Exceeded limit per app run.");
        return false;
    }
    auto database = this->database();
    if (database && database->userAttributeWithName("_psmvalue", nullptr)) {
        log->logWithLevel(1, 23237, "Failed to initiate on-device conversion measurement. Found existing match.");
        return false;
    }
    if (PSMRetryCount_ >= config->maxPSMRetryCount()) {
        log->logWithLevel(1, 23238, "Failed to initiate on-device conversion measurement. Exceeded retry limit.");
        return false;
    }
    return true;
}

std::shared_ptr<APMPrivateSetMembershipClient> APMMeasurement::PSMClientWithEmailAddress(
    const std::string& emailAddress) {
    auto made = ClassRegistry::create(APMPrivateSetMembershipClient::kClassName);
    auto client = std::dynamic_pointer_cast<APMPrivateSetMembershipClient>(made);
    auto identity = this->identity();
    if (!client || !client->initWithEmailAddress(emailAddress, identity ? identity->appID() : std::string())) {
        return nullptr;
    }
    return client;
}

void APMMeasurement::retrievePSMResponse() {
    auto client = privateSetMembershipClient_;
    if (!client) return;
    auto url = client->PSMRequestURLWithRetryCount(PSMRetryCount_);
    if (!url) {
        monitor()->logWithLevel(1, 23227, "URL to query data set for on-device conversion measurement is invalid");
        return;
    }
    if (!uploader_->isNetworkReadyForRequest()) {
        monitor()->logWithLevel(7, 23232,
                                "Network operation is pending. Request to query data set for on-device conversion "
                                "measurement postponed.");
        isPSMRequestPostponed_ = true;
        return;
    }
    if (PSMRetryAlarm_) PSMRetryAlarm_->cancel();
    isPSMRequestInProgress_ = true;
    isPSMRequestPostponed_ = false;
    setIsNetworkRequestPending(true);
    network_->setTimeoutInterval(remoteConfig()->networkTimeout());
    std::weak_ptr<APMMeasurement> weak = weakSelf<APMMeasurement>();
    network_->getURL(
        url, {}, kMaxPSMAnswer, scheduler_->workerQueue(), uploader_->shouldUseBackgroundSession(),
        [weak, client](const std::shared_ptr<NSHTTPURLResponse>& response, const NSData& data, const NSErrorPtr& error) {
            auto engine = weak.lock();
            if (!engine) return;
            engine->setIsNetworkRequestPending(false);
            engine->incrementPSMCountOnWorkerQueue();
            const long status = response ? response->statusCode() : 0;
            const bool success = !error && (status == 200 || status == 304 || status == 204);
            if (!success) {
                monitor()->logWithLevel(1, 23228,
                                        "Failed to query data set for on-device conversion measurement. Will retry later. "
                                        "Code, error",
                                        Value(static_cast<long long>(status)), Value(error));
                engine->isPSMRequestInProgress_ = false;
                engine->maybeSchedulePSMRetry();
                engine->uploader()->updateSchedule();
                return;
            }
            const std::string value = client->parsedPSMValueFromResponse(data).value_or("");
            if (!value.empty()) {
                monitor()->logWithLevel(7, 23229, "On-device conversion measurement found a match");
                engine->handlePSMValueOnWorkerQueue(value);
            } else {
                monitor()->logWithLevel(7, 23230,
                                        "On-device conversion measurement did not find a match. Will try again given new "
                                        "user data.");
            }
            engine->isPSMRequestInProgress_ = false;
            engine->privateSetMembershipClient_.reset();
            engine->uploader()->updateSchedule();
        });
}

bool APMMeasurement::retrievePostponedPSMRequest() {
    if (!isPSMRequestPostponed_ || !privateSetMembershipClient_) return false;
    retrievePSMResponse();
    return true;
}

void APMMeasurement::maybeSchedulePSMRetry() {
    const std::int32_t tried = PSMRetryCount_++;
    if (tried + 1 >= remoteConfig()->maxPSMRetryCount()) {
        monitor()->logWithLevel(4, 23231, "On-device conversion measurement failed to find a match. Reached retry limit.");
        return;
    }
    if (!PSMRetryAlarm_) PSMRetryAlarm_ = APMAlarm::initWithDispatchQueue(scheduler_->workerQueue(), kPSMRetryTimerName);
    std::weak_ptr<APMMeasurement> weak = weakSelf<APMMeasurement>();
    PSMRetryAlarm_->runAfterDelay(remoteConfig()->PSMRetryInterval() * std::pow(2.0, tried), [weak] {
        if (auto engine = weak.lock()) engine->retrievePSMResponse();
    });
}

void APMMeasurement::handlePSMValueOnWorkerQueue(const std::string& value) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("handlePSMValueOnWorkerQueue");
    if (value.empty()) return;
    const double now = Clock::now();
    writeUserProperty("_psmvalue", APMValue::valueFromObject(Value(value)), now);
    auto event = APMEvent::initWithOrigin(kAPMAutoOrigin, false, "_fx", now, 0,
                                          {{"_fxs", Value(APMValue::initWithString(Value("psm")))}});
    if (!event) return;
    event->setRealtime(true);
    writeEventOnWorkerQueue(event);
}

void APMMeasurement::incrementPSMCountOnWorkerQueue() {
    auto database = this->database();
    if (!database) return;
    auto stored = database->userAttributeWithName("_psmcount", nullptr);
    const std::int64_t count = stored && stored->value() && stored->value()->isInt64() ? stored->value()->int64Value() : 0;
    writeUserProperty("_psmcount", APMValue::initWithInt64(static_cast<std::int32_t>(count) + 1), Clock::now());
}

void APMMeasurement::maybeDeleteExpiredPSMValueOnWorkerQueue() {
    auto database = this->database();
    if (!database) return;
    auto value = database->userAttributeWithName("_psmvalue", nullptr);
    if (!value || std::fabs(Clock::now() - value->lastSetTimestamp()) < kPSMValueLifetime) return;
    removeUserAttributeOnWorkerQueue(value);
    if (auto count = database->userAttributeWithName("_psmcount", nullptr)) removeUserAttributeOnWorkerQueue(count);
}

void APMMeasurement::resetPSMCounts() {
    PSMStartCount_ = 0;
    PSMRetryCount_ = 0;
}
