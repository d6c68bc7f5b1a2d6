// The process's string and array method evaluators, forgotten after every test: the next one
// starts as a new process would. Any test may make them; one made again after a test's end, by
// work it left running, is reported.
#include "analytics/script/APMPArrayCommandEvaluator.h"
#include "analytics/script/APMPStringCommandEvaluator.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::Registration strings("APMPStringCommandEvaluator::sharedInstance()", [] {
    return ProcessStateSnapshot{.description = APMPStringCommandEvaluator::hasSharedInstance() ? "made" : "none",
                                .restore = [] { APMPStringCommandEvaluator::resetSharedInstance(); },
                                .changedByTests = true};
});

const ProcessState::Registration arrays("APMPArrayCommandEvaluator::sharedInstance()", [] {
    return ProcessStateSnapshot{.description = APMPArrayCommandEvaluator::hasSharedInstance() ? "made" : "none",
                                .restore = [] { APMPArrayCommandEvaluator::resetSharedInstance(); },
                                .changedByTests = true};
});

}  // namespace
