// The keychain store: add, duplicate, find, update, delete, and items that outlive the
// application's folders.
#include "platform/security/SecItem.h"
#include "platform/security/SecRandom.h"

#include "platform/foundation/SecureRandom.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace {

Value::Dictionary item(const std::string& service, const std::string& account) {
    Value::Dictionary query;
    query.set(kSecClass, kSecClassGenericPassword);
    query.set(kSecAttrService, service);
    query.set(kSecAttrAccount, account);
    return query;
}

NSData bytes(const std::string& text) { return NSData(text.begin(), text.end()); }

class SecItemTest : public testing::Test {
protected:
    void SetUp() override {
        // Start from an empty store.
        Value::Dictionary all;
        all.set(kSecClass, kSecClassGenericPassword);
        const OSStatus status = SecItemDelete(all);
        ASSERT_TRUE(status == errSecSuccess || status == errSecItemNotFound) << status;
    }
};

TEST_F(SecItemTest, AddFindUpdateDelete) {
    Value::Dictionary attributes = item("app", "token");
    attributes.set(kSecValueData, bytes("one"));
    attributes.set(kSecAttrAccessible, kSecAttrAccessibleAlwaysThisDeviceOnly);
    ASSERT_EQ(SecItemAdd(attributes, nullptr), errSecSuccess);
    EXPECT_EQ(SecItemAdd(attributes, nullptr), errSecDuplicateItem);

    Value::Dictionary query = item("app", "token");
    query.set(kSecReturnData, true);
    Value result;
    ASSERT_EQ(SecItemCopyMatching(query, &result), errSecSuccess);
    EXPECT_EQ(result.data(), bytes("one"));

    Value::Dictionary changes;
    changes.set(kSecValueData, bytes("two"));
    EXPECT_EQ(SecItemUpdate(item("app", "token"), changes), errSecSuccess);
    query.set(kSecReturnAttributes, true);
    ASSERT_EQ(SecItemCopyMatching(query, &result), errSecSuccess);
    EXPECT_EQ(result[kSecValueData].data(), bytes("two"));
    EXPECT_EQ(result[kSecAttrAccessible].string(), kSecAttrAccessibleAlwaysThisDeviceOnly);

    EXPECT_EQ(SecItemUpdate(item("app", "other"), changes), errSecItemNotFound);
    EXPECT_EQ(SecItemDelete(item("app", "token")), errSecSuccess);
    EXPECT_EQ(SecItemCopyMatching(query, &result), errSecItemNotFound);
    EXPECT_EQ(SecItemDelete(item("app", "token")), errSecItemNotFound);
}

TEST_F(SecItemTest, DataAttributesMatchStringsOfTheSameBytes) {
    Value::Dictionary legacy;
    legacy.set(kSecClass, kSecClassGenericPassword);
    legacy.set(kSecAttrService, "app");
    legacy.set(kSecAttrAccount, bytes("_pfo"));
    legacy.set(kSecAttrGeneric, bytes("_pfo"));
    legacy.set(kSecValueData, bytes("1"));
    ASSERT_EQ(SecItemAdd(legacy, nullptr), errSecSuccess);

    Value::Dictionary query = item("app", "_pfo");
    query.set(kSecAttrGeneric, "_pfo");
    query.set(kSecReturnAttributes, true);
    Value result;
    ASSERT_EQ(SecItemCopyMatching(query, &result), errSecSuccess);
    EXPECT_TRUE(result[kSecAttrAccount].isData());
    EXPECT_FALSE(result[kSecValueData].isData());  // data was not asked for
}

TEST_F(SecItemTest, MatchLimitAllAndParameterChecks) {
    for (const char* account : {"a", "b"}) {
        Value::Dictionary attributes = item("svc", account);
        attributes.set(kSecValueData, bytes(account));
        ASSERT_EQ(SecItemAdd(attributes, nullptr), errSecSuccess);
    }
    Value::Dictionary query;
    query.set(kSecClass, kSecClassGenericPassword);
    query.set(kSecAttrService, "svc");
    query.set(kSecMatchLimit, kSecMatchLimitAll);
    query.set(kSecReturnData, true);
    Value result;
    ASSERT_EQ(SecItemCopyMatching(query, &result), errSecSuccess);
    EXPECT_EQ(result.count(), 2u);

    EXPECT_EQ(SecItemAdd(Value::Dictionary{{kSecAttrService, "x"}}, nullptr), errSecParam);
    Value::Dictionary renameClass;
    renameClass.set(kSecClass, "other");
    EXPECT_EQ(SecItemUpdate(item("svc", "a"), renameClass), errSecParam);
    // An update may not give an item the identity of another.
    Value::Dictionary clash;
    clash.set(kSecAttrAccount, "b");
    EXPECT_EQ(SecItemUpdate(item("svc", "a"), clash), errSecDuplicateItem);
}

TEST_F(SecItemTest, ItemsOutliveTheApplicationsFolders) {
    Value::Dictionary attributes = item("app", "kept");
    attributes.set(kSecValueData, bytes("v"));
    ASSERT_EQ(SecItemAdd(attributes, nullptr), errSecSuccess);
    // A reinstallation replaces Documents, Library and tmp.
    for (const std::string& folder : {Sandbox::documents(), Sandbox::library(), Sandbox::tmp()}) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    const std::string store = SecKeychainStorePath();
    for (const std::string& folder : {Sandbox::documents(), Sandbox::library(), Sandbox::tmp()}) {
        EXPECT_NE(store.rfind(folder, 0), 0u) << store;
    }
    Value::Dictionary query = item("app", "kept");
    query.set(kSecReturnData, true);
    Value result;
    ASSERT_EQ(SecItemCopyMatching(query, &result), errSecSuccess);
    EXPECT_EQ(result.data(), bytes("v"));
}

TEST_F(SecItemTest, UnreadableStoreIsNeverOverwritten) {
    const std::string path = (std::filesystem::path(Sandbox::tmp()) / "corrupt-keychain.plist").string();
    {
        std::FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs("not a property list", file);
        std::fclose(file);
    }
    SecKeychainSetStorePath(path);
    Value::Dictionary attributes = item("app", "x");
    attributes.set(kSecValueData, bytes("v"));
    EXPECT_EQ(SecItemAdd(attributes, nullptr), errSecIO);
    EXPECT_EQ(std::filesystem::file_size(path), std::string("not a property list").size());
    SecKeychainSetStorePath("");
}

// A store that cannot be looked at or written is an I/O failure, never an empty one: nothing
// reads as missing, and no write replaces items that were never read.
TEST_F(SecItemTest, AFailingDiskIsAnErrorAndNeverReplacesTheStore) {
    Value::Dictionary kept = item("app", "kept");
    kept.set(kSecValueData, bytes("v"));
    ASSERT_EQ(SecItemAdd(kept, nullptr), errSecSuccess);
    const std::string store = SecKeychainStorePath();
    const std::string folder = std::filesystem::path(store).parent_path().string();
    Value::Dictionary added = item("app", "added");
    added.set(kSecValueData, bytes("w"));
    Value::Dictionary query = item("app", "kept");
    query.set(kSecReturnData, true);
    Value::Dictionary change;
    change.set(kSecValueData, bytes("changed"));
    Value result;
    {
        FaultInjection io;
        io->ioError(FaultyFileIO::Operation::Status, store);
        EXPECT_EQ(SecItemCopyMatching(query, &result), errSecIO);
        EXPECT_EQ(SecItemAdd(added, nullptr), errSecIO);
        EXPECT_EQ(SecItemUpdate(item("app", "kept"), change), errSecIO);
        EXPECT_EQ(SecItemDelete(item("app", "kept")), errSecIO);
        EXPECT_GE(io->injected(), 4);
    }
    for (const auto& fault : {std::pair{"no space", ENOSPC}, std::pair{"failed rename", EIO}}) {
        SCOPED_TRACE(fault.first);
        FaultInjection io;
        if (fault.second == ENOSPC) io->noSpace(folder + "/.keychain.plist.tmp-*");
        else io->failRename(store);
        EXPECT_EQ(SecItemAdd(added, nullptr), errSecIO);
        EXPECT_EQ(SecItemUpdate(item("app", "kept"), change), errSecIO);
        EXPECT_EQ(SecItemDelete(item("app", "kept")), errSecIO);
        EXPECT_GT(io->injected(), 0);
    }
    ASSERT_EQ(SecItemCopyMatching(query, &result), errSecSuccess);
    EXPECT_EQ(result.data(), bytes("v"));
    EXPECT_EQ(SecItemCopyMatching(item("app", "added"), nullptr), errSecItemNotFound);
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename(), "keychain.plist") << "a temporary file stays";
}

TEST(SecRandomTest, CopiesBytesAndReportsFailure) {
    unsigned char buffer[32] = {};
    ASSERT_EQ(SecRandomCopyBytes(kSecRandomDefault, sizeof buffer, buffer), 0);
    bool anyNonZero = false;
    for (unsigned char b : buffer) anyNonZero |= b != 0;
    EXPECT_TRUE(anyNonZero);
    SecureRandom::setFailureForTesting(EAGAIN);
    EXPECT_EQ(SecRandomCopyBytes(kSecRandomDefault, sizeof buffer, buffer), -1);
    EXPECT_EQ(errno, EAGAIN);
    SecureRandom::setFailureForTesting(0);
}

}  // namespace
