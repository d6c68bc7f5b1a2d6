// The shared instances below the engine, forgotten after every test even where no engine was
// made (the engine's reset forgets them too): the next test starts as a new process would. Any
// test may make them; one made again after a test's end, by work it left running, is reported.
#include "analytics/audience/APMConditionalUserPropertyController.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/reporters/APMInAppPurchaseProductCache.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::MadeOnFirstUse builder("APMEExperimentRequestBuilder::sharedInstance()",
                                           &APMEExperimentRequestBuilder::hasSharedInstance,
                                           &APMEExperimentRequestBuilder::resetSharedInstance);
const ProcessState::MadeOnFirstUse manager("APMEManager::sharedInstance()", &APMEManager::hasSharedInstance,
                                           &APMEManager::resetSharedInstance);
const ProcessState::MadeOnFirstUse cache("APMInAppPurchaseProductCache::sharedInstance()",
                                         &APMInAppPurchaseProductCache::hasSharedInstance,
                                         &APMInAppPurchaseProductCache::resetSharedInstance);
const ProcessState::MadeOnFirstUse reporter("APMInAppPurchaseTransactionReporter::sharedInstance()",
                                            &APMInAppPurchaseTransactionReporter::hasSharedInstance,
                                            &APMInAppPurchaseTransactionReporter::resetSharedInstance);
const ProcessState::MadeOnFirstUse controller("APMConditionalUserPropertyController::sharedInstance()",
                                              &APMConditionalUserPropertyController::hasSharedInstance,
                                              &APMConditionalUserPropertyController::resetSharedInstance);

const ProcessState::Registration adClient("APMSearchAdReporter::adClientInstance()", [] {
    return ProcessStateSnapshot{.description = APMSearchAdReporter::hasLookedUpAdClient() ? "looked up" : "not looked up",
                                .restore = [] { APMSearchAdReporter::resetAdClientInstance(); },
                                .changedByTests = true};
});

}  // namespace
