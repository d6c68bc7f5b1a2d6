// Each call goes on to the measurement monitor as it came.
#include "analytics/experiments/APMEMonitor.h"

#include "analytics/core/APMMonitor.h"

std::shared_ptr<APMEMonitor> APMEMonitor::initWithMonitor(std::shared_ptr<APMMonitor> monitor) {
    if (!monitor) return nullptr;
    auto result = std::make_shared<APMEMonitor>();
    result->monitor_ = std::move(monitor);
    return result;
}

void APMEMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message) {
    monitor_->logWithLevel(level, messageCode, message);
}

void APMEMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message,
                               const Value& context) {
    monitor_->logWithLevel(level, messageCode, message, context);
}

void APMEMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message,
                               const Value& context1, const Value& context2) {
    monitor_->logWithLevel(level, messageCode, message, context1, context2);
}

void APMEMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode, std::string_view message,
                               const Value& context1, const Value& context2, const Value& context3) {
    monitor_->logWithLevel(level, messageCode, message, context1, context2, context3);
}

void APMEMonitor::clearMonitoringData() { monitor_->clearMonitoringData(); }

bool APMEMonitor::wouldRecord(std::int64_t level) const { return monitor_->wouldRecord(level); }
