// The simulator's log: the application's diagnostics are kept in a file in its home, so the
// terminal shows the screens and what a person must act on.
#pragma once

#include <string>

namespace SimLog {

// The log file of the home in use.
std::string path();
// Sends the diagnostics to the log (shown live too with `verbose`) and says once, on standard
// error, where they go. A log that cannot be opened leaves them on standard error, and says so.
void start(bool verbose);

}  // namespace SimLog
