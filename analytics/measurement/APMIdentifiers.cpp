// The identifiers view and its ad event counter.
#include "analytics/measurement/APMIdentifiers.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNumericUtil.h"
#include "analytics/measurement/APMIdentity.h"
#include "platform/dispatch/DispatchOnce.h"

namespace {

// One counter for the process, seeded at its first use; unsigned so that it wraps.
std::atomic<std::uint64_t>& adEventCounter() {
    static dispatch_once_t once;
    static std::atomic<std::uint64_t> counter{0};
    dispatch_once(once, [] { counter.store(static_cast<std::uint64_t>(APMNumericUtil::randomInt64().value_or(0))); });
    return counter;
}

}  // namespace

std::shared_ptr<APMIdentifiers> APMIdentifiers::sharedInstance() {
    static auto* shared = new std::shared_ptr<APMIdentifiers>(make());
    return *shared;
}

std::shared_ptr<APMIdentifiers> APMIdentifiers::make(IdentityProvider sharedIdentity) {
    auto identifiers = std::make_shared<APMIdentifiers>();
    identifiers->sharedIdentity_ = sharedIdentity ? std::move(sharedIdentity) : IdentityProvider(&APMIdentity::sharedInstance);
    return identifiers;
}

void APMIdentifiers::setEngineIdentityProvider(IdentityProvider provider) {
    MutexLock lock(mutex_);
    engineIdentity_ = std::move(provider);
}

std::pair<std::shared_ptr<APMIdentity>, bool> APMIdentifiers::currentIdentity() const {
    IdentityProvider engine;
    {
        MutexLock lock(mutex_);
        engine = engineIdentity_;
    }
    if (engine) {
        if (auto identity = engine()) return {identity, true};
    }
    return {sharedIdentity_(), false};
}

std::optional<std::string> APMIdentifiers::vizudiAppID() {
    auto [identity, fromEngine] = currentIdentity();
    std::optional<std::string> appID = identity ? identity->appIDFromVUV() : std::nullopt;
    if (!appID) {
        if (fromEngine) APMMeasurementMonitor()->logWithLevel(2, 37000, "Unable to fetch Vizudi App ID from identity");
        else APMMeasurementMonitor()->logWithLevel(2, 37001, "Unable to fetch Vizudi App ID from default options");
    }
    return appID;
}

std::optional<std::string> APMIdentifiers::appInstanceID() {
    auto [identity, fromEngine] = currentIdentity();
    std::optional<std::string> appInstanceID = identity ? identity->appInstanceID() : std::nullopt;
    if (!appInstanceID) {
        if (fromEngine) APMMeasurementMonitor()->logWithLevel(2, 37002, "Unable to fetch App Instance ID from identity");
        else APMMeasurementMonitor()->logWithLevel(2, 37003, "Unable to fetch App Instance ID from identity shared instance");
    }
    return appInstanceID;
}

std::optional<std::string> APMIdentifiers::analyticsAppID() {
    auto [identity, fromEngine] = currentIdentity();
    if (identity) {
        if (auto vuv = identity->appIDFromVUV(); vuv && !vuv->empty()) return vuv;
        if (auto zeviv = identity->appIDFromZeViv(); zeviv && !zeviv->empty()) return zeviv;
    }
    APMMeasurementMonitor()->logWithLevel(2, 37005, "Unable to fetch effective App ID from identity");
    return std::nullopt;
}

std::string APMIdentifiers::adEventID() {
    return std::to_string(static_cast<std::int64_t>(adEventCounter().fetch_add(1)));
}

std::string APMIdentifiers::libraryVersion() const { return std::to_string(APMIdentity::zevUzeviroredaLibraryVersion()); }

std::string APMIdentifiers::origin() const {
    MutexLock lock(mutex_);
    return origin_;
}

void APMIdentifiers::setOrigin(const std::string& origin) {
    if (origin.empty()) {
        APMMeasurementMonitor()->logWithLevel(2, 37004,
                                              "Cannot set the data collection origin. Origin cannot be empty");
        return;
    }
    MutexLock lock(mutex_);
    origin_ = origin;
}
