// Consent in force: sources and their priority, denials compared in lower case, withdrawals,
// the signal text, the Info.plist defaults, and the remote switches that turn it all off.
#include "analytics/measurement/APMConsentSettingsUtil.h"

#include "MeasurementTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

#include <thread>
#include <vector>

namespace {

class APMConsentSettingsUtilTest : public testing::Test {
protected:
    void TearDown() override {
        APMConsentSettingsUtil::setConsentSettings(std::nullopt);
        APMConsentSettingsUtil::setSwitchesProvider(nullptr);
        (void)APMConsentSettingsUtil::consentSource();  // the reset has run
    }
    static void setSwitches(bool enabled, bool enabled3P) {
        APMConsentSettingsUtil::setSwitchesProvider([enabled, enabled3P] { return APMConsentSwitches{enabled, enabled3P}; });
    }
};

TEST_F(APMConsentSettingsUtilTest, SettingsAndSourcesWithTheirPriority) {
    EXPECT_FALSE(APMConsentSettingsUtil::consentSettings());
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), APMConsentSettingsUtil::kSourceNone);
    APMConsentSettingsUtil::setConsentSettings(Value::Dictionary{{"ad_storage", Value("granted")}});
    APMConsentSettingsUtil::setConsentSource(APMConsentSettingsUtil::kSourceSetConsent);
    // A write and the read after it on one thread.
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 30);
    EXPECT_TRUE(APMConsentSettingsUtil::isConsentSourceHigherPriority(30));
    EXPECT_TRUE(APMConsentSettingsUtil::isConsentSourceHigherPriority(10));
    EXPECT_FALSE(APMConsentSettingsUtil::isConsentSourceHigherPriority(40));

    APMConsentSettingsUtil::updateSettings({{"analytics_storage", Value("denied")}, {"ad_storage", Value("denied")}});
    EXPECT_EQ(*APMConsentSettingsUtil::consentSettings(),
              (Value::Dictionary{{"ad_storage", Value("denied")}, {"analytics_storage", Value("denied")}}));
    EXPECT_EQ(APMConsentSettingsUtil::description(), "ad_storage is denied. analytics_storage is denied.");

    EXPECT_EQ(APMConsentSettingsUtil::consentSettingsFromDictionary(
                  {{"ad_storage", Value("granted")}, {"other", Value("x")}, {"analytics_storage", Value(1)}}),
              (Value::Dictionary{{"ad_storage", Value("granted")}, {"analytics_storage", Value(1)}}));

    // Clearing the settings forgets the source too.
    APMConsentSettingsUtil::setConsentSettings(std::nullopt);
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 100);
    EXPECT_EQ(APMConsentSettingsUtil::description(), "ad_storage is granted. analytics_storage is granted.");
}

TEST_F(APMConsentSettingsUtilTest, DenialsWithdrawalsAndSignals) {
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G1--");
    APMConsentSettingsUtil::setConsentSettings(Value::Dictionary{{"ad_storage", Value("Denied")}});
    EXPECT_TRUE(APMConsentSettingsUtil::isAdStorageDenied());
    EXPECT_FALSE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G10-");
    APMConsentSettingsUtil::setConsentSettings(
        Value::Dictionary{{"ad_storage", Value("granted")}, {"analytics_storage", Value("maybe")}});
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G11-");

    // A storage no longer granted is a withdrawal; staying denied is not.
    APMConsentSettingsUtil::setConsentSettings(
        Value::Dictionary{{"ad_storage", Value("denied")}, {"analytics_storage", Value("granted")}});
    EXPECT_TRUE(APMConsentSettingsUtil::didWithdrawPreviousConsent(Value(Value::Dictionary{{"ad_storage", Value("granted")}})));
    EXPECT_FALSE(APMConsentSettingsUtil::didWithdrawPreviousConsent(Value(Value::Dictionary{{"ad_storage", Value("DENIED")}})));
    EXPECT_FALSE(APMConsentSettingsUtil::didWithdrawPreviousConsent(Value(*APMConsentSettingsUtil::consentSettings())));
    EXPECT_FALSE(APMConsentSettingsUtil::didWithdrawPreviousConsent(Value("not a dictionary")));
    APMConsentSettingsUtil::setConsentSettings(Value::Dictionary{{"analytics_storage", Value("denied")}});
    EXPECT_TRUE(APMConsentSettingsUtil::didWithdrawPreviousConsent(Value()));
    APMConsentSettingsUtil::setConsentSettings(std::nullopt);
    EXPECT_FALSE(APMConsentSettingsUtil::didWithdrawPreviousConsent(Value()));

    // Switched off, nothing is denied or withdrawn, and there is no signal.
    APMConsentSettingsUtil::setConsentSettings(
        Value::Dictionary{{"ad_storage", Value("denied")}, {"analytics_storage", Value("denied")}});
    setSwitches(false, true);
    EXPECT_FALSE(APMConsentSettingsUtil::isAdStorageDenied());
    EXPECT_FALSE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_FALSE(APMConsentSettingsUtil::didWithdrawPreviousConsent(Value()));
    EXPECT_FALSE(APMConsentSettingsUtil::consentSignals());
    // Without the third-party switch only the signal goes.
    setSwitches(true, false);
    EXPECT_TRUE(APMConsentSettingsUtil::isAdStorageDenied());
    EXPECT_FALSE(APMConsentSettingsUtil::consentSignals());
}

TEST_F(APMConsentSettingsUtilTest, DefaultsFromTheApplicationsInfoPlist) {
    TestBundle bundle;
    EXPECT_TRUE(APMConsentSettingsUtil::consentSettingsFromPlist().empty());
    bundle.writePlist("Info.plist", Value(Value::Dictionary{{"VIZUDI_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", Value(false)},
                                                            {"VIZUDI_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE", Value(true)}}));
    EXPECT_EQ(APMConsentSettingsUtil::consentSettingsFromPlist(),
              (Value::Dictionary{{"ad_storage", Value("denied")}, {"analytics_storage", Value("granted")}}));
    bundle.writePlist("Info.plist", Value(Value::Dictionary{{"VIZUDI_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", Value("NO")}}));
    EXPECT_TRUE(APMConsentSettingsUtil::consentSettingsFromPlist().empty());
}

// Denials and signals are read without waiting on the queue while no change is queued; a read
// right after a change must still see it, whatever other threads read meanwhile.
TEST_F(APMConsentSettingsUtilTest, DenialsReadRightAfterAChangeSeeIt) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&stop] {
            while (!stop) {
                (void)APMConsentSettingsUtil::storageDenials();
                (void)APMConsentSettingsUtil::consentSignals();
            }
        });
    }
    int agreed = 0;
    for (int i = 0; i < 200; ++i) {
        const bool denyAd = i % 2 == 0;
        const bool denyAnalytics = i % 3 == 0;
        APMConsentSettingsUtil::setConsentSettings(
            Value::Dictionary{{"ad_storage", Value(denyAd ? "denied" : "granted")},
                              {"analytics_storage", Value(denyAnalytics ? "denied" : "granted")}});
        const auto denied = APMConsentSettingsUtil::storageDenials();
        const std::string signals = std::string("G1") + (denyAd ? "0" : "1") + (denyAnalytics ? "0" : "1");
        if (denied.adStorage == denyAd && denied.analyticsStorage == denyAnalytics &&
            APMConsentSettingsUtil::isAdStorageDenied() == denyAd &&
            APMConsentSettingsUtil::isAnalyticsStorageDenied() == denyAnalytics &&
            APMConsentSettingsUtil::consentSignals() == signals) {
            ++agreed;
        }
    }
    stop = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(agreed, 200);
}

TEST_F(APMConsentSettingsUtilTest, EachThreadReadsItsOwnWrites) {
    std::vector<std::thread> threads;
    std::atomic<int> seen{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &seen] {
            for (int i = 0; i < 50; ++i) {
                const std::string key = "k" + std::to_string(t);
                APMConsentSettingsUtil::updateSettings({{key, Value(i)}});
                auto settings = APMConsentSettingsUtil::consentSettings();
                if (settings && settings->get(key).longLongValue() >= i) ++seen;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(seen.load(), 200);
    EXPECT_EQ(APMConsentSettingsUtil::consentSettings()->size(), 4u);
}

}  // namespace
