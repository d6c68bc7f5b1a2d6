// The shared instances below the engine, dropped after every test even where no engine was
// made (the engine's reset drops them too): the next test starts as a new process would.
#include "analytics/audience/APMConditionalUserPropertyController.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/reporters/APMInAppPurchaseProductCache.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::Registration shared(
    "experiments, purchase reporter, product cache, conditional user properties and search-ads client", [] {
    return ProcessStateSnapshot{"", [] {
        APMEManager::resetSharedInstance();
        APMEExperimentRequestBuilder::resetSharedInstance();
        APMInAppPurchaseTransactionReporter::resetSharedInstance();
        APMInAppPurchaseProductCache::resetSharedInstance();
        APMConditionalUserPropertyController::resetSharedInstance();
        APMSearchAdReporter::resetAdClientInstance();
    }};
});

}  // namespace
