// The process's purchase reporter, its product cache and its look-up of the search-ads client,
// forgotten after every test: the next one starts as a new process would. Any test may make
// them; one made again after a test's end, by work it left running, is reported.
#include "analytics/reporters/APMInAppPurchaseProductCache.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::MadeOnFirstUse cache("APMInAppPurchaseProductCache::sharedInstance()",
                                         &APMInAppPurchaseProductCache::hasSharedInstance,
                                         &APMInAppPurchaseProductCache::resetSharedInstance);

const ProcessState::MadeOnFirstUse reporter("APMInAppPurchaseTransactionReporter::sharedInstance()",
                                            &APMInAppPurchaseTransactionReporter::hasSharedInstance,
                                            &APMInAppPurchaseTransactionReporter::resetSharedInstance);

const ProcessState::Registration adClient("APMSearchAdReporter::adClientInstance()", [] {
    return ProcessStateSnapshot{.description = APMSearchAdReporter::hasLookedUpAdClient() ? "looked up" : "not looked up",
                                .restore = [] { APMSearchAdReporter::resetAdClientInstance(); },
                                .changedByTests = true};
});

}  // namespace
