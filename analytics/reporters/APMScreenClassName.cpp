// The view controllers' extension: its load installs the screen-view hooks.
#include "analytics/reporters/APMScreenClassName.h"

#include "analytics/reporters/APMScreenViewReporter.h"

void APMScreenClassName::load() { APMScreenViewReporter::installHooks(); }
