// Where the program's diagnostics go: plain sentences, one a line. They go to standard error
// unless the program sends them to a log file (the simulator does, so that its terminal keeps
// the screens and what a person must act on); what a person must act on is told on standard
// error in any case, and logged too.
#pragma once

#include "platform/foundation/NSError.h"

#include <string>
#include <string_view>

namespace Diagnostics {

// A diagnostic: into the log file, or on standard error when there is none (or when the log is
// echoed). A trailing newline is not needed.
void note(std::string_view sentence);
void notef(const char* format, ...) __attribute__((format(printf, 1, 2)));
// What a person must act on (a missing database, a home that cannot be made): on standard
// error, and into the log file when there is one.
void tell(std::string_view sentence);
void tellf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// From now on diagnostics are appended to the file at `path` (made when missing, its folder
// too; a link in its place is moved aside, never followed, and the first line says where it
// went); with `echo` they show on standard error as well. False, with the error, when the file
// cannot be opened; the destination is then unchanged. A file that fails a write later is
// given up with a sentence on standard error, and diagnostics go there again.
[[nodiscard]] bool logToFile(const std::string& path, bool echo, NSErrorPtr* error = nullptr);
// Back to standard error alone; the file is closed.
void logToStandardError();
// The log file in use, "" for standard error.
std::string logPath();

}  // namespace Diagnostics
