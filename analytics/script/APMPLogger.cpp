#include "analytics/script/APMPLogger.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPHeap.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPTextBuilder.h"

namespace {
namespace logging {

using RuntimeValue = APMPRuntimeValue;

// Code of every line a program logs.
constexpr std::int64_t kScriptLogCode = 24005;

}  // namespace logging
}  // namespace

std::int64_t APMPixieLogger::monitorLevel(std::int64_t level, bool silent, bool monitored) {
    switch (level) {
        case 6: return silent ? 2 : monitored ? 1 : 0;
        case 5: return silent ? 5 : monitored ? 4 : 3;
        case 3: return 7;
        case 2: return 8;
        default: return 6;
    }
}

void APMPixieLogger::logWithLevel(std::int64_t level, const std::string& message,
                                  const std::vector<std::string>& context, bool silent, bool monitored) {
    using namespace logging;
    Value::Array contexts;
    for (const std::string& item : context) contexts.emplace_back(item);
    APMMeasurementMonitor()->logWithLevel(monitorLevel(level, silent, monitored), kScriptLogCode, message, contexts);
}

APMPFunctionLog::APMPFunctionLog(APMPHeap& heap, std::shared_ptr<APMPLoggerDelegate> logger, bool silent,
                                 bool monitored)
    : APMPFunctionValue(heap, u"log"), logger_(std::move(logger)), silent_(silent), monitored_(monitored) {}

APMPRuntimeValue APMPFunctionLog::invokeWithArguments(std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                                  APMPRuntime& runtime, NSErrorPtr& error) {
    if (arguments.empty()) {
        error = APMPError(APMPErrorArgumentCount);
        return APMPRuntimeValue::undefined();
    }
    const APMPRef<APMPFunctionLog> keep(this);
    const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
    if (error) return APMPRuntimeValue::undefined();
    std::int64_t level = 4;
    std::size_t messageAt = 0;
    if (values.size() >= 2) {
        level = APMPSaturatingInt64(values[0].doubleValueOrError(runtime, error));
        if (error) return APMPRuntimeValue::undefined();
        messageAt = 1;
    }
    // Each text in UTF-8 for the log, its conversion charged and held while the line is made.
    APMPRuntime::Held held(runtime);
    auto plain = [&](const APMPRuntimeValue& value, std::string& out) {
        APMPValueText text(runtime);
        if (!text.read(value, error) || !runtime.chargeConversion(text.view(), error) ||
            !held.resize(held.bytes() + 3 * text.view().size(), error)) {
            return false;
        }
        out = APMPUTF8(text.view());
        return true;
    };
    std::string message;
    if (!plain(values[messageAt], message)) return APMPRuntimeValue::undefined();
    std::vector<std::string> context;
    for (std::size_t i = 2; i < values.size() && i < 5; ++i) {
        if (!plain(values[i], context.emplace_back())) return APMPRuntimeValue::undefined();
    }
    if (!runtime.countLogLine(error)) return APMPRuntimeValue::undefined();
    if (logger_) logger_->logWithLevel(level, message, context, silent_, monitored_);
    return APMPRuntimeValue::undefined();
}

APMPFunctionLogSilent::APMPFunctionLogSilent(APMPHeap& heap, std::shared_ptr<APMPLoggerDelegate> logger)
    : APMPFunctionValue(heap, u"silent") {
    setValueForProperty(APMPRuntimeValue(heap.make<APMPFunctionLog>(std::move(logger), true, true)), u"log");
}

APMPFunctionLogUnmonitored::APMPFunctionLogUnmonitored(APMPHeap& heap, std::shared_ptr<APMPLoggerDelegate> logger)
    : APMPFunctionValue(heap, u"unmonitored") {
    setValueForProperty(APMPRuntimeValue(heap.make<APMPFunctionLog>(std::move(logger), false, false)), u"log");
}

APMPMessageLogger::APMPMessageLogger(APMPHeap& heap, std::shared_ptr<APMPLoggerDelegate> logger)
    : APMPFunctionValue(heap, u"internal.logger") {
    setValueForProperty(APMPRuntimeValue(heap.make<APMPFunctionLog>(logger, false, true)), u"log");
    setValueForProperty(APMPRuntimeValue(heap.make<APMPFunctionLogSilent>(logger)), u"silent");
    setValueForProperty(APMPRuntimeValue(heap.make<APMPFunctionLogUnmonitored>(logger)), u"unmonitored");
}
