// The experiments framework's door to the measurement monitor: every line it logs passes
// through here unchanged, so the framework names one monitor and not the engine's.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string_view>

class APMMonitor;

class APMEMonitor : public NSObject {
public:
    [[nodiscard]] static std::shared_ptr<APMEMonitor> initWithMonitor(std::shared_ptr<APMMonitor> monitor);

    void logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message);
    void logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message, const Value& context);
    void logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message, const Value& context1,
                      const Value& context2);
    void logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message, const Value& context1,
                      const Value& context2, const Value& context3);
    void clearMonitoringData();
    // Whether a line of this level would be printed or sampled: lines costly to make are made only then.
    bool wouldRecord(std::int64_t level) const;

    const std::shared_ptr<APMMonitor>& monitor() const { return monitor_; }

private:
    std::shared_ptr<APMMonitor> monitor_;
};
