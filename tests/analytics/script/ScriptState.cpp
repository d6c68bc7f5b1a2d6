// The process's string and array method evaluators, forgotten after every test: the next one
// starts as a new process would. Any test may make them; one made again after a test's end, by
// work it left running, is reported.
#include "analytics/script/APMPArrayCommandEvaluator.h"
#include "analytics/script/APMPStringCommandEvaluator.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::MadeOnFirstUse strings("APMPStringCommandEvaluator::sharedInstance()",
                                           &APMPStringCommandEvaluator::hasSharedInstance,
                                           &APMPStringCommandEvaluator::resetSharedInstance);

const ProcessState::MadeOnFirstUse arrays("APMPArrayCommandEvaluator::sharedInstance()",
                                          &APMPArrayCommandEvaluator::hasSharedInstance,
                                          &APMPArrayCommandEvaluator::resetSharedInstance);

}  // namespace
