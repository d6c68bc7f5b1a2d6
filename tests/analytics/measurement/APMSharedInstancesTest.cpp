// The process-wide instances below the engine: the experiments manager and its request
// builder, the purchase reporter and its product cache, the conditional user property
// controller and the search-ads client are each one per process, and the engine works with
// that one.
#include "EngineTestSupport.h"

#include "analytics/audience/APMConditionalUserPropertyController.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/measurement/APMDefaultIdentitySupport.h"
#include "analytics/measurement/APMPlatformIdentitySupport.h"
#include "analytics/proto/APMPBClientProperty.h"
#include "analytics/proto/APMPBExperimentRequest.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/reporters/APMInAppPurchaseProductCache.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "platform/adsupport/ADClient.h"
#include "platform/adsupport/ASIdentifierManager.h"
#include "tests/fixtures/AskedAtOnce.h"

#include <atomic>

namespace {

class APMSharedInstancesTest : public EngineTest {
protected:
    void TearDown() override {
        EngineTest::TearDown();
        ClassRegistry::unregisterClass(APMSearchAdReporter::kClientClassName);
    }
};

}  // namespace

TEST_F(APMSharedInstancesTest, EachClassAnswersTheOneObjectTheEngineUsesFromEveryThread) {
    std::atomic<int> lookUps{0};
    auto client = std::make_shared<ADClient>();
    ClassRegistry::registerClass(APMSearchAdReporter::kClientClassName, [&lookUps, client] {
        ++lookUps;
        return client;
    });
    start();
    ASSERT_NE(engine()->searchAdReporter(), nullptr);
    auto manager = engine()->experimentManager();
    ASSERT_NE(manager, nullptr);
    auto purchases = engine()->purchaseReporter();
    ASSERT_NE(purchases, nullptr);
    auto conditionalProperties = engine()->conditionalUserPropertyController();
    ASSERT_NE(conditionalProperties, nullptr);

    struct Seen {
        std::shared_ptr<APMEManager> manager;
        std::shared_ptr<APMEExperimentRequestBuilder> builder;
        std::shared_ptr<APMInAppPurchaseTransactionReporter> purchases;
        std::shared_ptr<APMInAppPurchaseProductCache> products;
        std::shared_ptr<APMConditionalUserPropertyController> conditionalProperties;
        std::shared_ptr<NSObject> client;
    };
    const auto seen = askedAtOnce([] {
        return Seen{APMEManager::sharedInstance(),
                    APMEExperimentRequestBuilder::sharedInstance(),
                    APMInAppPurchaseTransactionReporter::sharedInstance(),
                    APMInAppPurchaseProductCache::sharedInstance(),
                    APMConditionalUserPropertyController::sharedInstance(),
                    APMSearchAdReporter::adClientInstance()};
    });
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].manager, manager) << i;
        EXPECT_EQ(seen[i].builder, manager->taskManager()->requestBuilder()) << i;
        EXPECT_EQ(seen[i].purchases, purchases) << i;
        EXPECT_EQ(seen[i].products, purchases->productCache()) << i;
        EXPECT_EQ(seen[i].conditionalProperties, conditionalProperties) << i;
        EXPECT_EQ(seen[i].client, client) << i;
    }
    // The framework was asked for its client once, by the engine's reporter.
    EXPECT_EQ(lookUps.load(), 1);
    // What the engine's configuration registered is in the process's requests.
    auto request = APMEExperimentRequestBuilder::sharedInstance()->request(*engine()->experimentContext());
    const auto clients = APMPBMessageGetArray<APMPBClientProperty>(request, APMPBExperimentRequest::kClientProperties)
                             .value_or(Value::Array{});
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(APMPBMessageGetString(clients[0].objectAs<APMPBClientProperty>(), APMPBClientProperty::kSdkName),
              APMRemoteConfig::kExperimentSDKName);

    // A new launch has new ones, made as the first time.
    restart();
    EXPECT_NE(APMEManager::sharedInstance(), manager);
    EXPECT_EQ(APMEManager::sharedInstance(), engine()->experimentManager());
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::sharedInstance(), engine()->purchaseReporter());
    EXPECT_NE(engine()->purchaseReporter(), purchases);
    EXPECT_NE(engine()->purchaseReporter()->productCache(), purchases->productCache());
    EXPECT_EQ(APMConditionalUserPropertyController::sharedInstance(), engine()->conditionalUserPropertyController());
    EXPECT_NE(engine()->conditionalUserPropertyController(), conditionalProperties);
}

TEST_F(APMSharedInstancesTest, TheAdvertisingFrameworksIdentitySupportIsTheProcesssOne) {
    ClassRegistry::registerClass("ASIdentifierManager", [] { return ASIdentifierManager::sharedManager(); });
    // Loaded again now that the framework is linked.
    DUROrezurive::load();
    // As the engine's default support finds it, at every look-up.
    auto support = APMDefaultIdentitySupport::make()->platformIdentitySupport();
    EXPECT_NE(support, nullptr);
    EXPECT_EQ(support, APMPlatformIdentitySupport::sharedInstance());
    EXPECT_EQ(APMDefaultIdentitySupport::make()->platformIdentitySupport(), support);
    ClassRegistry::unregisterClass(APMDefaultIdentitySupport::kPlatformClassName);
    ClassRegistry::unregisterClass("ASIdentifierManager");
}
