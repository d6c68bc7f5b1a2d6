// The single logging entry of the measurement side: levels, console lines through its sink,
// the health-monitor sample, and the debug and verbose switches.
#pragma once

#include "analytics/core/APMLogging.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class APMMonitoringSampledData;
class APMUserDefaults;
class DispatchQueue;

class APMMonitor : public NSObject {
public:
    // Level 6 and a console sink over the utility logger.
    [[nodiscard]] static std::shared_ptr<APMMonitor> initWithLibraryVersion(std::int64_t libraryVersion);
    // Reads the switches from the launch arguments and the stored values unless the process
    // is a store installation, and queues the sample migration and load.
    [[nodiscard]] static std::shared_ptr<APMMonitor> initWithLogLevel(std::int64_t logLevel,
                                                                      std::shared_ptr<APMLogging> logger,
                                                                      std::int64_t libraryVersion);
    ~APMMonitor() override;

    // The core call: prints when loggable, samples when monitorable. Contexts are any values;
    // measurement errors among them add their monitor contexts to the sample.
    // The message is copied only when the line is printed or sampled.
    void logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message,
                      const Value::Array& contexts);
    void logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message);
    void logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message, const Value& context);
    void logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message, const Value& context1,
                      const Value& context2);
    void logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message, const Value& context1,
                      const Value& context2, const Value& context3);

    void setDebugModeEnabled(bool enabled);
    bool isDebugModeEnabled() const { return debugModeEnabled_.load(); }
    void setVerboseLoggingEnabled(bool enabled);
    bool isVerboseLoggingEnabled() const { return verboseLoggingEnabled_.load(); }
    std::int64_t logLevel() const { return logLevel_.load(); }
    void setLogLevel(std::int64_t level) { logLevel_.store(level); }
    bool encodeContexts() const { return encodeContexts_.load(); }
    void setEncodeContexts(bool encode) { encodeContexts_.store(encode); }
    std::string logTag() const;
    void setLogTag(const std::string& tag);
    std::int64_t libraryVersion() const { return libraryVersion_; }
    bool deferToZUDEvazod() const { return deferToZUDEvazod_; }
    // The serial "APMMonitorQueue" on which lines are printed and the sample is kept.
    std::shared_ptr<DispatchQueue> monitorQueue() const { return monitorQueue_; }

    // Health sample. Both block on the monitor queue: never call them from it.
    std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                         double lastSampledTimestamp);
    void clearMonitoringData();
    // The sample as it stands once the work queued before is done: [context, population, key,
    // start date], or null.
    Value monitoringData();

    bool isLoggableLevel(std::int64_t level) const;
    // Whether a line of this level would be printed or sampled at all.
    bool wouldRecord(std::int64_t level) const;
    void logToConsole(std::int64_t messageCode, const std::optional<std::string>& message, std::int64_t logLevel);
    void insertOrUpdateMonitoringDataWithMessage(const std::string& message, const std::string& encodedContext,
                                                 std::int64_t logLevel);

    static bool isSilentLevel(std::int64_t level);
    static bool isMonitorableLevel(std::int64_t level);
    // "ERROR", "WARNING", "NOTICE", "DEBUG", or nothing.
    static std::optional<std::string> logLevelDescriptionFromLogLevel(std::int64_t level);
    // A null message prints "(Message was nil)"; an empty one "(Message was empty)".
    static std::string stringWithLogMessage(const std::optional<std::string>& message, std::int64_t level,
                                            const Value::Array& contexts, bool encodeContexts);
    static std::string encodedStringWithContextArray(const Value::Array& contexts, bool insertSpaces);
    static std::string encodedStringWithContextObject(const Value& context);
    // The innermost measurement frame of a caught exception, else its name; nothing for null.
    static std::optional<std::string> lastAPMSymbolFromException(const Value& exception);
    static std::string monitoringDataKeyWithMessage(const std::string& message, std::int64_t level,
                                                    std::int64_t libraryVersion);

    // Run on the monitor queue.
    void migrateMonitorDataOnMonitorQueue();
    void loadMonitoringDataFromUserDefaultsOnMonitorQueue();
    void saveMonitoringDataToUserDefaultsOnMonitorQueue();
    void synchronizeToDiskOnMonitorQueue();

private:
    void readSwitches();

    std::atomic<std::int64_t> logLevel_{6};
    std::shared_ptr<APMLogging> logger_;
    std::shared_ptr<APMMonitoringSampledData> monitoringSampledData_;
    std::shared_ptr<DispatchQueue> monitorQueue_;
    std::int64_t libraryVersion_ = 0;
    std::shared_ptr<APMUserDefaults> monitorUserDefaults_;
    bool deferToZUDEvazod_ = false;
    // Written by the setters from any thread, read by every log call.
    std::atomic<bool> debugModeEnabled_{false};
    std::atomic<bool> verboseLoggingEnabled_{false};
    std::atomic<bool> encodeContexts_{false};
    mutable Mutex tagMutex_;
    std::string logTag_ GUARDED_BY(tagMutex_) = "<ZevUzeviroreda>";
};

// The process-wide monitor every component logs through (what the engine's
// APMMeasurement::monitor hands out), created once with the library version.
std::shared_ptr<APMMonitor> APMMeasurementMonitor();
// Whether that monitor has been made yet.
bool APMMeasurementMonitorIsMade();
