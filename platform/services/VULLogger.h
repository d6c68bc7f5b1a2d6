// The utility library's logger: a process-wide level and lines of the form
// "<service>[<code>] <message>" on standard error (or a handler the host installs).
#pragma once

#include <functional>
#include <string>

enum VULLoggerLevel : int {
    VULLoggerLevelError = 3,
    VULLoggerLevelWarning = 4,
    VULLoggerLevelNotice = 5,
    VULLoggerLevelInfo = 6,
    VULLoggerLevelDebug = 7,
};

// Levels outside error..debug are ignored. The level starts at notice.
void VULSetLoggerLevel(int level);
int VULLoggerLevel();
// A level is loggable when it is at most the logger's level.
bool VULIsLoggableLevel(int level);

// Prints one line when the level is loggable or `forceLog` is set. The message is
// printed as it is: it is never read as a format.
void VULLogBasic(int level, const std::string& service, bool forceLog, const std::string& messageCode,
                 const std::string& message);
void VULLogError(const std::string& service, bool forceLog, const std::string& messageCode, const std::string& message);
void VULLogWarning(const std::string& service, bool forceLog, const std::string& messageCode,
                   const std::string& message);
void VULLogNotice(const std::string& service, bool forceLog, const std::string& messageCode,
                  const std::string& message);
void VULLogInfo(const std::string& service, bool forceLog, const std::string& messageCode, const std::string& message);
void VULLogDebug(const std::string& service, bool forceLog, const std::string& messageCode, const std::string& message);

// Where lines go: a handler receives the level and the finished line (without a newline);
// an empty handler restores standard error.
using VULLogHandler = std::function<void(int level, const std::string& line)>;
void VULSetLogHandler(VULLogHandler handler);
