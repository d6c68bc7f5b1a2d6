// An ad unit shown or hidden, told to the exposure reporter the analytics library registered.
#include "simulator/SimAdUnits.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/services/DAROAdExposureReporterInterop.h"

#include <memory>

std::string SimAdUnits::setVisible(const std::string& adUnitID, bool visible) {
    auto reporter =
        std::dynamic_pointer_cast<DAROAdExposureReporterInterop>(ClassRegistry::create(DAROAdExposureReporterInterop::kClassName));
    if (!reporter) return "ad: no ad exposure reporter is linked into this application";
    if (visible) reporter->beginAdUnitExposure(adUnitID);
    else reporter->endAdUnitExposure(adUnitID);
    return "";
}
