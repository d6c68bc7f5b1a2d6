// Makes the application's delegate, with the analytics library, known to a host that starts it
// by name (the simulator). Compiled into the host's own sources, so the linker keeps it.
#include "app/AppDelegate.h"

namespace {

const bool registered = [] {
    AppDelegate::registerClassWithAnalytics();
    return true;
}();

}  // namespace
