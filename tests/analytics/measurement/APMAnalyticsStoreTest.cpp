// The start-up state the front and the engine share: consent kept under the key of its source,
// a clearing that takes every consent key and nothing else, and what a new process still finds.
#include "analytics/measurement/APMAnalyticsStore.h"

#include "analytics/measurement/APMConsentSettingsUtil.h"

#include <gtest/gtest.h>

TEST(APMAnalyticsStoreTest, ConsentIsKeptUnderItsSourcesKeyAndClearedWithoutTheResetBookkeeping) {
    auto store = APMAnalyticsStore::initWithSuiteName(APMAnalyticsStore::kSuiteName);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->persistedConsentSource(), APMConsentSettingsUtil::kSourceNone);

    const Value::Dictionary denied{{"ad_storage", Value("denied")}};
    const Value::Dictionary granted{{"analytics_storage", Value("granted")}};
    store->persistConsentSettings(denied, APMConsentSettingsUtil::kSourceRestored3P);
    EXPECT_EQ(store->consentSettings3P(), denied);
    EXPECT_EQ(store->consentSettings1P(), std::nullopt);
    store->persistConsentSettings(granted, APMConsentSettingsUtil::kSourceSetConsent);
    EXPECT_EQ(store->consentSettings1P(), granted);
    EXPECT_EQ(store->consentSettingsValueForKey(APMAnalyticsStore::kConsentSettings1PKey), Value(granted));
    EXPECT_EQ(store->persistedConsentSource(), APMConsentSettingsUtil::kSourceSetConsent);

    store->setConsentSettings1PStart(denied);
    store->setDeferredResetOnDeniedConsent();
    store->setResetRetryCount(2);
    store->setAppInstanceIDAfterReset("0123456789ABCDEF0123456789ABCDEF");
    store->clearConsentSettings();
    EXPECT_EQ(store->persistedConsentSource(), APMConsentSettingsUtil::kSourceNone);
    EXPECT_EQ(store->consentSettings1P(), std::nullopt);
    EXPECT_EQ(store->consentSettings3P(), std::nullopt);
    EXPECT_EQ(store->consentSettings1PStart(), std::nullopt);
    EXPECT_TRUE(store->deferredResetOnDeniedConsent().isNull());
    EXPECT_EQ(store->resetRetryCount(), 2);
    EXPECT_EQ(store->appInstanceIDAfterReset(), "0123456789ABCDEF0123456789ABCDEF");
}

TEST(APMAnalyticsStoreTest, ANewProcessFindsTheSuiteButNotTheLoadTime) {
    auto first = APMAnalyticsStore::sharedInstance();
    first->setLoadTimestamp(1'700'000'000);
    first->setNeedFirstOpenAfterReset(true);
    first->setDeferredAnalyticsCollection(Value(1));
    EXPECT_EQ(APMAnalyticsStore::sharedInstance(), first);

    APMAnalyticsStore::resetSharedInstance();
    auto next = APMAnalyticsStore::sharedInstance();
    EXPECT_NE(next, first);
    EXPECT_EQ(next->loadTimestamp(), 0);
    EXPECT_TRUE(next->needFirstOpenAfterReset());
    EXPECT_EQ(next->deferredAnalyticsCollection(), Value(1));
    // Only numbers count as a deferred choice; null removes it.
    next->setDeferredAnalyticsCollection(Value("yes"));
    EXPECT_TRUE(next->deferredAnalyticsCollection().isNull());
    next->setDeferredAnalyticsCollection(Value());
    EXPECT_TRUE(next->deferredAnalyticsCollection().isNull());
    next->removeNeedFirstOpenAfterReset();
    APMAnalyticsStore::resetSharedInstance();
}
