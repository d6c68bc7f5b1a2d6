// The ad exposure reporter under the public front's name, as an advertising library in the process calls it: sharedInstance is the reporter's own.
#pragma once

#include "analytics/reporters/APMAdExposureReporter.h"

class DAROAdExposureReporter : public APMAdExposureReporter {
public:
    using APMAdExposureReporter::APMAdExposureReporter;
};
