// The process's string and array method evaluators, dropped after every test: the next one
// starts as a new process would.
#include "analytics/script/APMPArrayCommandEvaluator.h"
#include "analytics/script/APMPStringCommandEvaluator.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::Registration evaluators("string and array command evaluators", [] {
    return ProcessStateSnapshot{"", [] {
        APMPStringCommandEvaluator::resetSharedInstance();
        APMPArrayCommandEvaluator::resetSharedInstance();
    }};
});

}  // namespace
