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

#include <functional>
#include <string>

namespace {

ProcessState::Capture instance(std::function<bool()> made, std::function<void()> forget) {
    return [made = std::move(made), forget = std::move(forget)] {
        return ProcessStateSnapshot{.description = made() ? "made" : "none", .restore = forget, .changedByTests = true};
    };
}

const ProcessState::Registration builder("APMEExperimentRequestBuilder::sharedInstance()",
                                         instance(APMEExperimentRequestBuilder::hasSharedInstance,
                                                  APMEExperimentRequestBuilder::resetSharedInstance));
const ProcessState::Registration manager("APMEManager::sharedInstance()",
                                         instance(APMEManager::hasSharedInstance, APMEManager::resetSharedInstance));
const ProcessState::Registration cache("APMInAppPurchaseProductCache::sharedInstance()",
                                       instance(APMInAppPurchaseProductCache::hasSharedInstance,
                                                APMInAppPurchaseProductCache::resetSharedInstance));
const ProcessState::Registration reporter("APMInAppPurchaseTransactionReporter::sharedInstance()",
                                          instance(APMInAppPurchaseTransactionReporter::hasSharedInstance,
                                                   APMInAppPurchaseTransactionReporter::resetSharedInstance));
const ProcessState::Registration controller("APMConditionalUserPropertyController::sharedInstance()",
                                            instance(APMConditionalUserPropertyController::hasSharedInstance,
                                                     APMConditionalUserPropertyController::resetSharedInstance));

const ProcessState::Registration adClient("APMSearchAdReporter::adClientInstance()", [] {
    return ProcessStateSnapshot{.description = APMSearchAdReporter::hasLookedUpAdClient() ? "looked up" : "not looked up",
                                .restore = [] { APMSearchAdReporter::resetAdClientInstance(); },
                                .changedByTests = true};
});

}  // namespace
