// The utility library's logger.
#include "platform/services/VULLogger.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<int> gLevel{VULLoggerLevelNotice};
Mutex gHandlerMutex;
VULLogHandler gHandler GUARDED_BY(gHandlerMutex);

}  // namespace

void VULSetLoggerLevel(int level) {
    if (level < VULLoggerLevelError || level > VULLoggerLevelDebug) return;
    gLevel.store(level);
}

int VULLoggerLevel() { return gLevel.load(); }

bool VULIsLoggableLevel(int level) { return level <= gLevel.load(); }

void VULLogBasic(int level, const std::string& service, bool forceLog, const std::string& messageCode,
                 const std::string& message) {
    if (!forceLog && !VULIsLoggableLevel(level)) return;
    std::string line = service + "[" + messageCode + "] " + message;
    VULLogHandler handler;
    {
        MutexLock lock(gHandlerMutex);
        handler = gHandler;
    }
    if (handler) {
        handler(level, line);
        return;
    }
    Diagnostics::note(line);
}

void VULLogError(const std::string& service, bool forceLog, const std::string& messageCode, const std::string& message) {
    VULLogBasic(VULLoggerLevelError, service, forceLog, messageCode, message);
}

void VULLogWarning(const std::string& service, bool forceLog, const std::string& messageCode,
                   const std::string& message) {
    VULLogBasic(VULLoggerLevelWarning, service, forceLog, messageCode, message);
}

void VULLogNotice(const std::string& service, bool forceLog, const std::string& messageCode,
                  const std::string& message) {
    VULLogBasic(VULLoggerLevelNotice, service, forceLog, messageCode, message);
}

void VULLogInfo(const std::string& service, bool forceLog, const std::string& messageCode, const std::string& message) {
    VULLogBasic(VULLoggerLevelInfo, service, forceLog, messageCode, message);
}

void VULLogDebug(const std::string& service, bool forceLog, const std::string& messageCode, const std::string& message) {
    VULLogBasic(VULLoggerLevelDebug, service, forceLog, messageCode, message);
}

void VULSetLogHandler(VULLogHandler handler) {
    MutexLock lock(gHandlerMutex);
    gHandler = std::move(handler);
}
