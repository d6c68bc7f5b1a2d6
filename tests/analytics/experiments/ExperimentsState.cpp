// The process's experiments manager (with the context it is made over) and request builder,
// forgotten after every test: the next one starts as a new process would. Any test may make
// them; one made again after a test's end, by work it left running, is reported.
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::Registration builder("APMEExperimentRequestBuilder::sharedInstance()", [] {
    return ProcessStateSnapshot{.description = APMEExperimentRequestBuilder::hasSharedInstance() ? "made" : "none",
                                .restore = [] { APMEExperimentRequestBuilder::resetSharedInstance(); },
                                .changedByTests = true};
});

const ProcessState::Registration manager("APMEManager::sharedInstance()", [] {
    return ProcessStateSnapshot{.description = APMEManager::hasSharedInstance() ? "made" : "none",
                                .restore = [] { APMEManager::resetSharedInstance(); },
                                .changedByTests = true};
});

}  // namespace
