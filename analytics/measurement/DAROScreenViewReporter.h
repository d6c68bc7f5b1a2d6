// The screen-view reporter under the public front's name: sharedInstance is the reporter's own.
#pragma once

#include "analytics/reporters/APMScreenViewReporter.h"

class DAROScreenViewReporter : public APMScreenViewReporter {
public:
    using APMScreenViewReporter::APMScreenViewReporter;
};
