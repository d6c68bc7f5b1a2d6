// The process's conditional user property controller and the context it is made with, dropped
// after every test: the next one starts as a new process would.
#include "analytics/audience/APMConditionalUserPropertyController.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::Registration controller("conditional user property controller", [] {
    return ProcessStateSnapshot{"", [] { APMConditionalUserPropertyController::resetSharedInstance(); }};
});

}  // namespace
