// Dates read "now" from the process clock, so tests that drive the clock drive dates too.
#include "platform/foundation/NSDate.h"

#include "platform/foundation/Clock.h"

NSDate NSDate::date() { return NSDate{Clock::now()}; }

NSDate NSDate::dateWithTimeIntervalSinceNow(double seconds) { return NSDate{Clock::now() + seconds}; }

double NSDate::timeIntervalSinceNow() const { return timeIntervalSince1970 - Clock::now(); }
