// Keychain items of the measurement engine.
#include "analytics/core/APMKeychainWrapper.h"

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/security/SecItem.h"

#include <set>
#include <utility>

namespace {

// Identifier pairs already migrated in this process (each pair once, not only the first read's).
Mutex gMigrationMutex;
std::set<std::pair<std::string, std::string>> gMigrated GUARDED_BY(gMigrationMutex);

void migrateOnce(const std::string& identifier, const std::string& appID) {
    {
        MutexLock lock(gMigrationMutex);
        if (!gMigrated.insert({identifier, appID}).second) return;
    }
    APMKeychainWrapper::migrateKeychainDataToStringWithIdentifier(identifier, appID);
}

}  // namespace

std::optional<Value::Dictionary> APMKeychainWrapper::searchDirectoryForIdentifier(const std::string& identifier,
                                                                                   const std::string& appID) {
    if (identifier.empty() || appID.empty()) return std::nullopt;
    Value::Dictionary query;
    query.set(kSecClass, kSecClassGenericPassword);
    query.set(kSecAttrService, appID);
    query.set(kSecAttrGeneric, identifier);
    query.set(kSecAttrAccount, identifier);
    return query;
}

std::optional<NSData> APMKeychainWrapper::keychainDataWithIdentifier(const std::string& identifier,
                                                                     const std::string& appID) {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query) return std::nullopt;
    query->set(kSecMatchLimit, kSecMatchLimitOne);
    query->set(kSecReturnData, true);
    Value result;
    if (SecItemCopyMatching(*query, &result) != errSecSuccess || !result.isData()) return std::nullopt;
    return result.data();
}

std::optional<std::string> APMKeychainWrapper::keychainValueWithIdentifier(const std::string& identifier,
                                                                           const std::string& appID) {
    if (identifier.empty() || appID.empty()) return std::nullopt;
    migrateOnce(identifier, appID);
    auto data = keychainDataWithIdentifier(identifier, appID);
    if (!data || data->empty()) return std::nullopt;
    return std::string(data->begin(), data->end());
}

bool APMKeychainWrapper::upsertKeychainValue(const Value& value, const std::string& identifier,
                                             const std::string& appID) {
    if (!value.isString() || value.string().empty()) return false;
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query) return false;
    const NSData bytes(value.string().begin(), value.string().end());
    query->set(kSecValueData, bytes);
    query->set(kSecAttrAccessible, kSecAttrAccessibleAlwaysThisDeviceOnly);

    auto update = [&] {
        Value::Dictionary match = *query;
        match.erase(kSecValueData);
        Value::Dictionary changes;
        changes.set(kSecValueData, bytes);
        // Older items may lack the accessibility attribute: match them without it.
        match.erase(kSecAttrAccessible);
        changes.set(kSecAttrAccessible, kSecAttrAccessibleAlwaysThisDeviceOnly);
        return SecItemUpdate(match, changes) == errSecSuccess;
    };
    if (keychainValueWithIdentifier(identifier, appID)) return update();
    const OSStatus status = SecItemAdd(*query, nullptr);
    // An item with empty data reads as absent but still occupies the slot.
    if (status == errSecDuplicateItem) return update();
    return status == errSecSuccess;
}

void APMKeychainWrapper::deleteKeychainValueWithIdentifier(const std::string& identifier, const std::string& appID) {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query) return;
    // A failed deletion is silent by design: callers cannot act on it.
    (void)SecItemDelete(*query);
}

bool APMKeychainWrapper::isMigrationNeededForIdentifier(const std::string& identifier, const std::string& appID) {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query) return false;
    query->set(kSecMatchLimit, kSecMatchLimitOne);
    query->set(kSecReturnData, true);
    query->set(kSecReturnAttributes, true);
    Value result;
    if (SecItemCopyMatching(*query, &result) != errSecSuccess || !result.isDictionary()) return false;
    return !result[kSecAttrAccount].isString() || !result[kSecAttrGeneric].isString();
}

void APMKeychainWrapper::migrateKeychainDataToStringWithIdentifier(const std::string& identifier,
                                                                   const std::string& appID) {
    if (!isMigrationNeededForIdentifier(identifier, appID)) return;
    auto data = keychainDataWithIdentifier(identifier, appID);
    if (!data || data->empty()) return;
    auto query = searchDirectoryForIdentifier(identifier, appID);
    Value::Dictionary changes;
    changes.set(kSecAttrGeneric, identifier);
    changes.set(kSecAttrAccount, identifier);
    // Silent on failure by design: the item stays readable in its old form and the next
    // process tries again.
    (void)SecItemUpdate(*query, changes);
}

void APMKeychainWrapper::forgetMigrations() {
    MutexLock lock(gMigrationMutex);
    gMigrated.clear();
}

std::size_t APMKeychainWrapper::migrationCount() {
    MutexLock lock(gMigrationMutex);
    return gMigrated.size();
}
