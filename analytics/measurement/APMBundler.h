// Turns the oldest group of raw events into one upload bundle: block list, reserved names,
// daily conversion and real-time limits, purchases, engagement totals, per-name aggregates,
// the bundle's index, span and stamps, all in one database transaction on the worker queue.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>

class APMDatabase;
class APMPBMeasurementBundle;
class APMIdentity;
class APMMonitor;
class APMPersistedConfig;
class APMRemoteConfig;
class APMAudience;
class APMUserAttribute;

// What bundling needs of the engine. Called on the engine's worker queue only.
class APMBundlerContext {
public:
    virtual ~APMBundlerContext() = default;

    virtual std::shared_ptr<APMDatabase> database() = 0;
    virtual std::shared_ptr<APMRemoteConfig> remoteConfig() = 0;
    virtual std::shared_ptr<APMPersistedConfig> persistedConfig() = 0;
    virtual std::shared_ptr<APMIdentity> identity() = 0;
    virtual std::shared_ptr<APMMonitor> monitor() = 0;
    // The engine's store of a user property, with its per-origin limits and without the
    // collection-enabled check; true when stored.
    virtual bool setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& userAttribute) = 0;
    // The audience evaluator; none leaves bundles without audience results.
    virtual std::shared_ptr<APMAudience> audience() { return nullptr; }
    // The metadata (device, app and user fields) an event logged now is stored with, for raw
    // events whose own did not survive; none when it cannot be made.
    virtual std::shared_ptr<APMPBMeasurementBundle> currentRawEventMetadata() = 0;
};

class APMBundler : public NSObject {
public:
    // The context is held weakly: once it is gone, bundling does nothing.
    [[nodiscard]] static std::shared_ptr<APMBundler> initWithContext(std::weak_ptr<APMBundlerContext> context);

    // One transaction: true when the oldest group of raw events was consumed (stored as a
    // bundle, or removed because nothing in it can ever be sent); false when nothing waits,
    // when the group was rejected whole, or on failure (everything rolled back).
    [[nodiscard]] bool bundleRawEvents();

    // The bundle names its app to the measurement service: by its Vizudi App ID, or else by its
    // ZeViv App ID (all an app the ads library alone started has).
    static bool namesItsApp(const std::shared_ptr<APMPBMeasurementBundle>& bundle);

private:
    std::weak_ptr<APMBundlerContext> context_;
};
