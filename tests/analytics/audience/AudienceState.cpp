// The process's conditional user property controller and the context it is made over,
// forgotten after every test: the next one starts as a new process would. Any test may make
// it; one made again after a test's end, by work it left running, is reported.
#include "analytics/audience/APMConditionalUserPropertyController.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::MadeOnFirstUse controller("APMConditionalUserPropertyController::sharedInstance()",
                                              &APMConditionalUserPropertyController::hasSharedInstance,
                                              &APMConditionalUserPropertyController::resetSharedInstance);

}  // namespace
