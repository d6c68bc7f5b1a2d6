// Collects the utility logger's lines for the length of a test, after draining the
// monitor's queue so that every queued line has been printed.
#pragma once

#include "analytics/core/APMMonitor.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/services/VULLogger.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

class LogCapture {
public:
    explicit LogCapture(int level = VULLoggerLevelDebug) : previousLevel_(VULLoggerLevel()) {
        flush();
        VULSetLoggerLevel(level);
        VULSetLogHandler([this](int, const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() {
        flush();
        VULSetLogHandler(nullptr);
        VULSetLoggerLevel(previousLevel_);
    }

    static void flush() { APMMeasurementMonitor()->monitorQueue()->sync([] {}); }

    std::vector<std::string> lines() {
        flush();
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // Lines holding `text`.
    std::vector<std::string> matching(const std::string& text) {
        std::vector<std::string> out;
        for (const auto& line : lines()) {
            if (line.find(text) != std::string::npos) out.push_back(line);
        }
        return out;
    }
    bool contains(const std::string& text) { return !matching(text).empty(); }
    void clear() {
        flush();
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

private:
    int previousLevel_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The monitor's health sample: where lines of the levels that are never printed (2 and 5) go.
// `clear` forgets what it holds.
inline std::string monitorSample(bool clear = false) {
    auto monitor = APMMeasurementMonitor();
    std::string sample = monitor->monitoringDataForDispatchWithSamplePeriod(-1, 0).value_or("");
    if (clear) monitor->clearMonitoringData();
    return sample;
}
inline bool sampled(const std::string& message) { return monitorSample().find(message) != std::string::npos; }
