// The process's purchase reporter, its product cache and its look-up of the search-ads client,
// dropped after every test: the next one starts as a new process would.
#include "analytics/reporters/APMInAppPurchaseProductCache.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::Registration reporters("purchase reporter, product cache and search-ads client", [] {
    return ProcessStateSnapshot{"", [] {
        APMInAppPurchaseTransactionReporter::resetSharedInstance();
        APMInAppPurchaseProductCache::resetSharedInstance();
        APMSearchAdReporter::resetAdClientInstance();
    }};
});

}  // namespace
