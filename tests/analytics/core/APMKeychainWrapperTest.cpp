// Keychain values of the measurement engine: upsert, read, delete, refusals and the migration
// of legacy items.
#include "analytics/core/APMKeychainWrapper.h"

#include "platform/security/SecItem.h"

#include <gtest/gtest.h>

namespace {

NSData bytes(const std::string& text) { return NSData(text.begin(), text.end()); }

size_t itemCount() {
    Value::Dictionary query;
    query.set(kSecClass, kSecClassGenericPassword);
    query.set(kSecMatchLimit, kSecMatchLimitAll);
    query.set(kSecReturnAttributes, true);
    Value result;
    return SecItemCopyMatching(query, &result) == errSecSuccess ? result.count() : 0;
}

TEST(APMKeychainWrapperTest, UpsertReadDelete) {
    EXPECT_FALSE(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", "app1"));
    ASSERT_TRUE(APMKeychainWrapper::upsertKeychainValue(Value("1"), "_pfo", "app1"));
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", "app1"), "1");
    ASSERT_TRUE(APMKeychainWrapper::upsertKeychainValue(Value("1700000000"), "_pfo", "app1"));
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", "app1"), "1700000000");
    EXPECT_EQ(itemCount(), 1u);  // updated, not added twice
    EXPECT_FALSE(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", "app2"));

    APMKeychainWrapper::deleteKeychainValueWithIdentifier("_pfo", "app1");
    EXPECT_FALSE(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", "app1"));
    EXPECT_EQ(itemCount(), 0u);
}

TEST(APMKeychainWrapperTest, RefusesEmptyValuesAndIdentifiers) {
    EXPECT_FALSE(APMKeychainWrapper::upsertKeychainValue(Value(""), "_pfo", "app"));
    EXPECT_FALSE(APMKeychainWrapper::upsertKeychainValue(Value(5), "_pfo", "app"));
    EXPECT_FALSE(APMKeychainWrapper::upsertKeychainValue(Value("v"), "", "app"));
    EXPECT_FALSE(APMKeychainWrapper::upsertKeychainValue(Value("v"), "_pfo", ""));
    EXPECT_FALSE(APMKeychainWrapper::searchDirectoryForIdentifier("", "app"));
    EXPECT_FALSE(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", ""));
    EXPECT_FALSE(APMKeychainWrapper::isMigrationNeededForIdentifier("", "app"));
    APMKeychainWrapper::deleteKeychainValueWithIdentifier("", "app");
    EXPECT_EQ(itemCount(), 0u);
}

TEST(APMKeychainWrapperTest, AnItemWithEmptyDataIsOverwritten) {
    Value::Dictionary empty = *APMKeychainWrapper::searchDirectoryForIdentifier("_pfo", "app");
    empty.set(kSecValueData, NSData{});
    ASSERT_EQ(SecItemAdd(empty, nullptr), errSecSuccess);
    EXPECT_FALSE(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", "app"));
    EXPECT_TRUE(APMKeychainWrapper::upsertKeychainValue(Value("1"), "_pfo", "app"));
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", "app"), "1");
    EXPECT_EQ(itemCount(), 1u);
}

TEST(APMKeychainWrapperTest, LegacyDataAttributesAreMigratedForEveryIdentifier) {
    for (const char* identifier : {"_pfo", "_other"}) {
        Value::Dictionary legacy;
        legacy.set(kSecClass, kSecClassGenericPassword);
        legacy.set(kSecAttrService, "legacy-app");
        legacy.set(kSecAttrGeneric, bytes(identifier));
        legacy.set(kSecAttrAccount, bytes(identifier));
        legacy.set(kSecValueData, bytes("42"));
        ASSERT_EQ(SecItemAdd(legacy, nullptr), errSecSuccess);
    }
    EXPECT_TRUE(APMKeychainWrapper::isMigrationNeededForIdentifier("_pfo", "legacy-app"));
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", "legacy-app"), "42");
    EXPECT_FALSE(APMKeychainWrapper::isMigrationNeededForIdentifier("_pfo", "legacy-app"));
    // A second identifier read later in the same process is migrated too.
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier("_other", "legacy-app"), "42");
    EXPECT_FALSE(APMKeychainWrapper::isMigrationNeededForIdentifier("_other", "legacy-app"));

    Value::Dictionary query = *APMKeychainWrapper::searchDirectoryForIdentifier("_pfo", "legacy-app");
    query.set(kSecReturnAttributes, true);
    Value attributes;
    ASSERT_EQ(SecItemCopyMatching(query, &attributes), errSecSuccess);
    EXPECT_TRUE(attributes[kSecAttrAccount].isString());
    EXPECT_TRUE(attributes[kSecAttrGeneric].isString());
}

}  // namespace
