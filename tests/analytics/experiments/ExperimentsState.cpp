// The process's experiments manager (with the context it is made over) and request builder,
// forgotten after every test: the next one starts as a new process would. Any test may make
// them; one made again after a test's end, by work it left running, is reported.
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::MadeOnFirstUse builder("APMEExperimentRequestBuilder::sharedInstance()",
                                           &APMEExperimentRequestBuilder::hasSharedInstance,
                                           &APMEExperimentRequestBuilder::resetSharedInstance);

const ProcessState::MadeOnFirstUse manager("APMEManager::sharedInstance()", &APMEManager::hasSharedInstance,
                                           &APMEManager::resetSharedInstance);

}  // namespace
