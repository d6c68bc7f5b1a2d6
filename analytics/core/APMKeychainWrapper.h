// Small string values kept in the keychain, one generic-password item per (identifier, app id),
// so they survive a reinstallation of the application.
#pragma once

#include "platform/foundation/Value.h"

#include <cstddef>
#include <optional>
#include <string>

class APMKeychainWrapper {
public:
    // True when the keychain accepted the write. An existing item is updated; an item the read
    // does not see (empty data) but that exists is updated too rather than failing as a duplicate.
    [[nodiscard]] static bool upsertKeychainValue(const Value& value, const std::string& identifier,
                                                  const std::string& appID);
    // The stored string; nothing for a missing or empty item.
    [[nodiscard]] static std::optional<std::string> keychainValueWithIdentifier(const std::string& identifier,
                                                                                const std::string& appID);
    static void deleteKeychainValueWithIdentifier(const std::string& identifier, const std::string& appID);

    // Class, service, generic attribute and account; nothing when either identifier is empty.
    [[nodiscard]] static std::optional<Value::Dictionary> searchDirectoryForIdentifier(const std::string& identifier,
                                                                                       const std::string& appID);
    [[nodiscard]] static std::optional<NSData> keychainDataWithIdentifier(const std::string& identifier,
                                                                          const std::string& appID);
    // True when the item's account or generic attribute is stored as something other than a string.
    static bool isMigrationNeededForIdentifier(const std::string& identifier, const std::string& appID);
    static void migrateKeychainDataToStringWithIdentifier(const std::string& identifier, const std::string& appID);
    // Forgets which identifiers this process has migrated, as a new process would (the test
    // harness does so when it gives the next test a keychain of its own).
    static void forgetMigrations();
    // How many identifier pairs this process remembers having migrated.
    static std::size_t migrationCount();
};
