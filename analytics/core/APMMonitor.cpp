// The measurement monitor: decisions on the caller's thread, output and sampling on its queue.
#include "analytics/core/APMMonitor.h"

#include "analytics/core/APMAEU.h"
#include "analytics/core/APMASLLogger.h"
#include "analytics/core/APMCaughtException.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMLibraryVersion.h"
#include "analytics/core/APMMonitoringSampledData.h"
#include "analytics/core/APMUserDefaults.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/NSString.h"
#include "platform/services/VULLogger.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace {

constexpr const char* kDebugModeKey = "/vizudi/measurement/debug_mode";
constexpr const char* kVerboseLoggingKey = "/vizudi/measurement/verbose_logging";
constexpr const char* kHealthMonitorKey = "/vizudi/measurement/health_monitor";
constexpr const char* kMigrationStateKey = "/vizudi/measurement/monitor_migration_state";
constexpr const char* kMonitorSuite = "com.vizudi.vuv.measurement.monitor";

std::string int128ToString(__int128 value) {
    if (value == 0) return "0";
    const bool negative = value < 0;
    unsigned __int128 magnitude = negative ? static_cast<unsigned __int128>(-value) : static_cast<unsigned __int128>(value);
    std::string digits;
    while (magnitude > 0) {
        digits.push_back(static_cast<char>('0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    }
    if (negative) digits.push_back('-');
    std::reverse(digits.begin(), digits.end());
    return digits;
}

std::int64_t numberAsInt64(const Value& number) {
    if (number.type() == Value::Type::Double) {
        const double d = number.doubleValue();
        if (std::isnan(d)) return 0;
        if (d >= 9.2233720368547758e18) return INT64_MAX;
        if (d <= -9.2233720368547758e18) return INT64_MIN;
        return static_cast<std::int64_t>(d);
    }
    if (number.type() == Value::Type::Unsigned) {
        const unsigned long long u = number.unsignedLongLongValue();
        return u > static_cast<unsigned long long>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(u);
    }
    return static_cast<std::int64_t>(number.longLongValue());
}

bool containsArgument(const std::vector<std::string>& arguments, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (std::find(arguments.begin(), arguments.end(), name) != arguments.end()) return true;
    }
    return false;
}

// Runs `block` on `queue` and waits, or at once when the caller already runs on it, so a
// call from the queue's own work never deadlocks.
void runSync(const std::shared_ptr<DispatchQueue>& queue, const void* key, const std::function<void()>& block) {
    if (DispatchQueue::getSpecific(key).boolValue()) {
        block();
        return;
    }
    queue->sync(block);
}

}  // namespace

std::shared_ptr<APMMonitor> APMMonitor::initWithLibraryVersion(std::int64_t libraryVersion) {
    return initWithLogLevel(6, std::make_shared<APMASLLogger>(), libraryVersion);
}

std::shared_ptr<APMMonitor> APMMonitor::initWithLogLevel(std::int64_t logLevel, std::shared_ptr<APMLogging> logger,
                                                         std::int64_t libraryVersion) {
    auto monitor = std::make_shared<APMMonitor>();
    monitor->logLevel_.store(logLevel);
    monitor->logger_ = std::move(logger);
    monitor->libraryVersion_ = libraryVersion;
    monitor->monitoringSampledData_ = APMMonitoringSampledData::initWithArray(Value());
    monitor->monitorQueue_ = DispatchQueue::create("APMMonitorQueue", DispatchQueue::Kind::Serial,
                                                   DispatchQueue::globalQueue(DispatchQueue::Priority::Background));
    monitor->monitorQueue_->setSpecific(monitor.get(), Value(true));
    monitor->monitorUserDefaults_ = APMUserDefaults::initWithSuiteName(kMonitorSuite);
    std::weak_ptr<APMMonitor> weak = monitor;
    monitor->monitorQueue_->async([weak] {
        if (auto strong = weak.lock()) {
            strong->migrateMonitorDataOnMonitorQueue();
            strong->loadMonitoringDataFromUserDefaultsOnMonitorQueue();
        }
    });
    if (!APMAEU::isFAS()) monitor->readSwitches();
    return monitor;
}

APMMonitor::~APMMonitor() = default;

void APMMonitor::readSwitches() {
    const auto arguments = NSProcessInfo::processInfo()->arguments();
    deferToZUDEvazod_ = containsArgument(arguments, {"-RURDebugDisabled", "-RURDebugEnabled"}) &&
                        ClassRegistry::isRegistered("RURConfiguration");
    auto standard = APMUserDefaults::standardUserDefaults();
    if (containsArgument(arguments, {"-noAPMAnalyticsDebugEnabled", "-noDUROrezuriveDebugEnabled", "-RURDebugDisabled"})) {
        setDebugModeEnabled(false);
    } else if (standard->objectForKey(kDebugModeKey).boolValue() ||
               containsArgument(arguments, {"-APMAnalyticsDebugEnabled", "-DUROrezuriveDebugEnabled", "-RURDebugEnabled"})) {
        setDebugModeEnabled(true);
    }
    if (containsArgument(arguments, {"-APMAnalyticsVerboseLoggingDisabled", "-DUROrezuriveVerboseLoggingDisabled"})) {
        setVerboseLoggingEnabled(false);
    } else if (standard->objectForKey(kVerboseLoggingKey).boolValue() ||
               containsArgument(arguments, {"-APMAnalyticsVerboseLoggingEnabled", "-DUROrezuriveVerboseLoggingEnabled"})) {
        setVerboseLoggingEnabled(true);
    }
}

void APMMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message) {
    if (!wouldRecord(level)) return;
    logWithLevel(level, messageCode, message, Value::Array{});
}

void APMMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message,
                              const Value& context) {
    if (!wouldRecord(level)) return;
    logWithLevel(level, messageCode, message, Value::Array{context});
}

void APMMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message,
                              const Value& context1, const Value& context2) {
    if (!wouldRecord(level)) return;
    logWithLevel(level, messageCode, message, Value::Array{context1, context2});
}

void APMMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message,
                              const Value& context1, const Value& context2, const Value& context3) {
    if (!wouldRecord(level)) return;
    logWithLevel(level, messageCode, message, Value::Array{context1, context2, context3});
}

bool APMMonitor::wouldRecord(std::int64_t level) const {
    if (!isLoggableLevel(level) && !isMonitorableLevel(level)) return false;
    return level < 8 || isVerboseLoggingEnabled();
}

void APMMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message,
                              const Value::Array& contexts) {
    if (!wouldRecord(level)) return;
    const std::string text(message);
    if (isLoggableLevel(level)) {
        logToConsole(messageCode, stringWithLogMessage(text, level, contexts, encodeContexts()), level);
    }
    if (isMonitorableLevel(level)) {
        std::string encoded = encodedStringWithContextArray(contexts, false);
        const std::string extra = APMMonitorContextFromContexts(contexts);
        if (!extra.empty()) encoded += "," + extra;
        insertOrUpdateMonitoringDataWithMessage(text, encoded, level);
    }
}

void APMMonitor::setDebugModeEnabled(bool enabled) {
    auto standard = APMUserDefaults::standardUserDefaults();
    if (enabled && !APMAEU::isFAS()) {
        logLevel_.store(7);
        if (!deferToZUDEvazod_) VULSetLoggerLevel(VULLoggerLevelDebug);
        standard->setObject(Value(true), kDebugModeKey);
        logWithLevel(7, 24000, "Debug mode is on");
        debugModeEnabled_.store(true);
    } else {
        logLevel_.store(6);
        if (!deferToZUDEvazod_) VULSetLoggerLevel(VULLoggerLevelNotice);
        standard->removeObjectForKey(kDebugModeKey);
        logWithLevel(7, 24001, "Debug mode is off");
        debugModeEnabled_.store(false);
    }
}

void APMMonitor::setVerboseLoggingEnabled(bool enabled) {
    auto standard = APMUserDefaults::standardUserDefaults();
    if (enabled && !APMAEU::isFAS()) {
        logLevel_.store(8);
        if (!deferToZUDEvazod_) VULSetLoggerLevel(VULLoggerLevelDebug);
        standard->setObject(Value(true), kVerboseLoggingKey);
        logWithLevel(8, 24003, "Verbose logging is on");
        verboseLoggingEnabled_.store(true);
    } else {
        const std::int64_t level = isDebugModeEnabled() ? 7 : 6;
        logLevel_.store(level);
        if (!deferToZUDEvazod_) VULSetLoggerLevel(static_cast<int>(APMASLLogger::VULLoggerLevelFromLogLevel(level)));
        standard->removeObjectForKey(kVerboseLoggingKey);
        logWithLevel(8, 24004, "Verbose logging is off");
        verboseLoggingEnabled_.store(false);
    }
}

std::string APMMonitor::logTag() const {
    MutexLock lock(tagMutex_);
    return logTag_;
}

void APMMonitor::setLogTag(const std::string& tag) {
    MutexLock lock(tagMutex_);
    logTag_ = tag;
}

bool APMMonitor::isLoggableLevel(std::int64_t level) const {
    return VULIsLoggableLevel(static_cast<int>(APMASLLogger::VULLoggerLevelFromLogLevel(level))) &&
           !isSilentLevel(level);
}

void APMMonitor::logToConsole(std::int64_t messageCode, const std::optional<std::string>& message,
                              std::int64_t logLevel) {
    if (!message) return;
    std::weak_ptr<APMMonitor> weak = weakSelf<APMMonitor>();
    std::string text = *message;
    monitorQueue_->async([weak, text = std::move(text), messageCode, logLevel] {
        auto strong = weak.lock();
        if (!strong || !strong->logger_) return;
        strong->logger_->logMessage(text, strong->logTag(), messageCode, logLevel);
    });
}

void APMMonitor::insertOrUpdateMonitoringDataWithMessage(const std::string& message, const std::string& encodedContext,
                                                         std::int64_t logLevel) {
    std::string key = monitoringDataKeyWithMessage(message, logLevel, libraryVersion_);
    std::weak_ptr<APMMonitor> weak = weakSelf<APMMonitor>();
    monitorQueue_->async([weak, key = std::move(key), encodedContext] {
        auto strong = weak.lock();
        if (!strong) return;
        strong->monitoringSampledData_->insertOrUpdateSampledDataWithKey(key, encodedContext);
        strong->saveMonitoringDataToUserDefaultsOnMonitorQueue();
    });
}

std::optional<std::string> APMMonitor::monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                                 double lastSampledTimestamp) {
    std::optional<std::string> result;
    runSync(monitorQueue_, this, [&] {
        result = monitoringSampledData_->monitoringDataForDispatchWithSamplePeriod(samplePeriod, lastSampledTimestamp);
        if (result) saveMonitoringDataToUserDefaultsOnMonitorQueue();
    });
    return result;
}

void APMMonitor::clearMonitoringData() {
    runSync(monitorQueue_, this, [&] {
        auto standard = APMUserDefaults::standardUserDefaults();
        standard->removeObjectForKey(kDebugModeKey);
        standard->removeObjectForKey(kHealthMonitorKey);
        monitorUserDefaults_->removeObjectForKey(kHealthMonitorKey);
        loadMonitoringDataFromUserDefaultsOnMonitorQueue();
    });
}

Value APMMonitor::monitoringData() {
    Value data;
    runSync(monitorQueue_, this, [&] { data = monitoringSampledData_->sampledData(); });
    return data;
}

void APMMonitor::migrateMonitorDataOnMonitorQueue() {
    std::int64_t state = monitorUserDefaults_->integerForKey(kMigrationStateKey);
    if (state != 0 && state != 1) return;
    auto standard = APMUserDefaults::standardUserDefaults();
    if (state == 0) {
        const Value old = standard->objectForKey(kHealthMonitorKey);
        if (old.isArray() && monitorUserDefaults_->objectForKey(kHealthMonitorKey).isNull()) {
            monitorUserDefaults_->setObject(old, kHealthMonitorKey);
        }
        monitorUserDefaults_->setInteger(1, kMigrationStateKey);
        monitorUserDefaults_->synchronize();
    }
    standard->removeObjectForKey(kHealthMonitorKey);
    standard->synchronize();
    monitorUserDefaults_->setInteger(2, kMigrationStateKey);
    monitorUserDefaults_->synchronize();
}

void APMMonitor::loadMonitoringDataFromUserDefaultsOnMonitorQueue() {
    monitoringSampledData_ = APMMonitoringSampledData::initWithArray(monitorUserDefaults_->objectForKey(kHealthMonitorKey));
}

void APMMonitor::saveMonitoringDataToUserDefaultsOnMonitorQueue() {
    monitorUserDefaults_->setObject(monitoringSampledData_->sampledData(), kHealthMonitorKey);
    synchronizeToDiskOnMonitorQueue();
}

void APMMonitor::synchronizeToDiskOnMonitorQueue() { monitorUserDefaults_->synchronize(); }

bool APMMonitor::isSilentLevel(std::int64_t level) {
    if (level > 8) return true;
    if (level < 0) return false;
    return ((1LL << level) & 0x24) != 0;
}

bool APMMonitor::isMonitorableLevel(std::int64_t level) {
    if (level > 8) return true;
    if (level < 0) return false;
    return ((1LL << level) & 0x36) != 0;
}

std::optional<std::string> APMMonitor::logLevelDescriptionFromLogLevel(std::int64_t level) {
    static const char* const names[] = {"ERROR", "ERROR", "ERROR", "WARNING", "WARNING", "WARNING", "NOTICE", "DEBUG"};
    if (level < 0 || level > 7) return std::nullopt;
    return std::string(names[level]);
}

std::string APMMonitor::stringWithLogMessage(const std::optional<std::string>& message, std::int64_t,
                                             const Value::Array& contexts, bool encodeContexts) {
    std::string text = !message ? "(Message was nil)" : (message->empty() ? "(Message was empty)" : *message);
    if (contexts.empty()) return text;
    if (encodeContexts) return text + ": " + encodedStringWithContextArray(contexts, true);
    std::string joined;
    for (size_t i = 0; i < contexts.size(); ++i) {
        const Value& context = contexts[i];
        std::string rendered;
        if (context.objectAs<APMCaughtException>()) {
            auto symbol = lastAPMSymbolFromException(context);
            rendered = symbol ? *symbol + ": " + context.description() : context.description();
        } else if (context.isNull()) {
            rendered = "(nil)";
        } else {
            rendered = context.description();
        }
        if (i) joined += ", ";
        joined += rendered;
    }
    return text + ": " + joined;
}

std::string APMMonitor::encodedStringWithContextArray(const Value::Array& contexts, bool insertSpaces) {
    std::string out;
    for (size_t i = 0; i < contexts.size(); ++i) {
        if (i) out += insertSpaces ? ", " : ",";
        out += encodedStringWithContextObject(contexts[i]);
    }
    return out;
}

std::string APMMonitor::encodedStringWithContextObject(const Value& context) {
    if (context.isNull()) return "";
    if (context.isString()) return "-";
    if (context.isNumber()) {
        const std::int64_t n = numberAsInt64(context);
        const __int128 wide = n;
        const __int128 magnitude = wide < 0 ? -wide : wide;
        if (magnitude <= 99) return std::to_string(n);
        const int k = static_cast<int>(std::floor(std::log10(static_cast<long double>(magnitude))));
        __int128 p = 1;
        for (int i = 0; i < k; ++i) p *= 10;
        if (n > 0) return int128ToString(p) + "..." + int128ToString(10 * p - 1);
        return int128ToString(1 - 10 * p) + "..." + int128ToString(-p);
    }
    if (context.objectAs<APMCaughtException>()) {
        auto symbol = lastAPMSymbolFromException(context);
        return symbol ? *symbol : "-";
    }
    if (auto error = context.objectAs<NSError>()) return error->domain().empty() ? "-" : error->domain();
    return "?";
}

std::optional<std::string> APMMonitor::lastAPMSymbolFromException(const Value& exceptionValue) {
    auto exception = exceptionValue.objectAs<APMCaughtException>();
    if (!exception) return std::nullopt;
    const auto& lines = exception->callStackSymbols();
    if (lines.size() < 2) return exception->name();
    for (size_t i = 2; i < lines.size(); ++i) {
        std::istringstream pieces(lines[i]);
        std::vector<std::string> parts;
        for (std::string piece; pieces >> piece;) parts.push_back(piece);
        if (parts.size() < 5) continue;
        const std::string symbol = parts[4] == "+" ? parts[3] : parts[3] + " " + parts[4];
        if (NSString::rangeOfString(symbol, "APM", NSCaseInsensitiveSearch).location != NSNotFound) return symbol;
    }
    return exception->name();
}

std::string APMMonitor::monitoringDataKeyWithMessage(const std::string& message, std::int64_t level,
                                                     std::int64_t libraryVersion) {
    char letter = '?';
    if (level >= 0 && level <= 2) letter = 'E';
    else if (level >= 3 && level <= 5) letter = 'W';
    return std::string("1") + letter + "_" + std::to_string(libraryVersion) + ":" + message;
}

namespace {

std::atomic<bool> measurementMonitorMade{false};

}  // namespace

std::shared_ptr<APMMonitor> APMMeasurementMonitor() {
    // Never destroyed: work still queued at exit may log through it.
    static const std::shared_ptr<APMMonitor>& shared = *new std::shared_ptr<APMMonitor>([] {
        auto monitor = APMMonitor::initWithLibraryVersion(APMZevUzeviroredaLibraryVersion());
        std::weak_ptr<APMMonitor> weak = monitor;
        // Work that escapes any queue of the process is logged here rather than ending it.
        DispatchQueue::setExceptionHandler([weak](const std::string& where, const std::string& what) {
            if (auto strong = weak.lock()) {
                strong->logWithLevel(1, 30000, "Exception on worker queue. Block ID=" + where + ". Exception",
                                     Value(APMCaughtException::initWithName("exception", what)));
            }
        });
        measurementMonitorMade.store(true, std::memory_order_release);
        return monitor;
    }());
    return shared;
}

bool APMMeasurementMonitorIsMade() { return measurementMonitorMade.load(std::memory_order_acquire); }
