// Logging from programs: the logger object ("internal.logger") with its "log", "silent.log"
// and "unmonitored.log", and the delegate that turns a script level into a monitor line.
#pragma once

#include "analytics/script/APMPFunctionValue.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class APMPLoggerDelegate {
public:
    virtual ~APMPLoggerDelegate() = default;
    virtual void logWithLevel(std::int64_t level, const std::string& message, const std::vector<std::string>& context,
                              bool silent, bool monitored) = 0;
};

// Logs through the measurement monitor with code 24005: script level 6 is an error (level 2
// silent, 1 monitored, 0 neither), 5 a warning (5, 4, 3), 3 debug (7), 2 verbose (8), and
// any other level a notice (6).
class APMPixieLogger final : public APMPLoggerDelegate {
public:
    static std::int64_t monitorLevel(std::int64_t level, bool silent, bool monitored);
    void logWithLevel(std::int64_t level, const std::string& message, const std::vector<std::string>& context,
                      bool silent, bool monitored) override;
};

// log(message) at level 4, or log(level, message, up to three context values).
class APMPFunctionLog final : public APMPFunctionValue {
public:
    APMPFunctionLog(APMPHeap& heap, std::shared_ptr<APMPLoggerDelegate> logger, bool silent, bool monitored);
    APMPRuntimeValue invokeWithArguments(std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                         APMPRuntime& runtime, NSErrorPtr& error) override;

private:
    std::shared_ptr<APMPLoggerDelegate> logger_;
    bool silent_;
    bool monitored_;
};

// "silent" and "unmonitored": their "log" logs silently, or unmonitored; calling the object
// itself does nothing.
class APMPFunctionLogSilent final : public APMPFunctionValue {
public:
    APMPFunctionLogSilent(APMPHeap& heap, std::shared_ptr<APMPLoggerDelegate> logger);
    APMPRuntimeValue invokeWithArguments(std::span<const APMPRuntimeValue>, APMPScope&, APMPRuntime&,
                                         NSErrorPtr&) override {
        return APMPRuntimeValue::undefined();
    }
};

class APMPFunctionLogUnmonitored final : public APMPFunctionValue {
public:
    APMPFunctionLogUnmonitored(APMPHeap& heap, std::shared_ptr<APMPLoggerDelegate> logger);
    APMPRuntimeValue invokeWithArguments(std::span<const APMPRuntimeValue>, APMPScope&, APMPRuntime&,
                                         NSErrorPtr&) override {
        return APMPRuntimeValue::undefined();
    }
};

// The "internal.logger" object; calling it does nothing.
class APMPMessageLogger final : public APMPFunctionValue {
public:
    APMPMessageLogger(APMPHeap& heap, std::shared_ptr<APMPLoggerDelegate> logger);
    APMPRuntimeValue invokeWithArguments(std::span<const APMPRuntimeValue>, APMPScope&, APMPRuntime&,
                                         NSErrorPtr&) override {
        return APMPRuntimeValue::undefined();
    }
};
