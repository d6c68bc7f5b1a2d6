// The process's experiments manager (with the context it is made with) and request builder,
// dropped after every test: the next one starts as a new process would.
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::Registration experiments("experiments manager and request builder", [] {
    return ProcessStateSnapshot{"", [] {
        APMEManager::resetSharedInstance();
        APMEExperimentRequestBuilder::resetSharedInstance();
    }};
});

}  // namespace
