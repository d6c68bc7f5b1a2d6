// The keychain: items of attributes and secret data, kept by the system layer in a file
// outside the application's folders (Documents, Library, tmp), so they outlive a
// reinstallation. Queries, attributes and results are dictionaries of Values.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <string>

using OSStatus = std::int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;

// Item class and attributes.
inline constexpr const char* kSecClass = "class";
inline constexpr const char* kSecClassGenericPassword = "genp";
inline constexpr const char* kSecAttrService = "svce";
inline constexpr const char* kSecAttrGeneric = "gena";
inline constexpr const char* kSecAttrAccount = "acct";
inline constexpr const char* kSecAttrAccessible = "pdmn";
inline constexpr const char* kSecAttrAccessibleAlwaysThisDeviceOnly = "dku";
inline constexpr const char* kSecAttrAccessibleAfterFirstUnlock = "ck";
inline constexpr const char* kSecAttrAccessibleWhenUnlocked = "ak";
// The secret bytes of an item.
inline constexpr const char* kSecValueData = "v_Data";
// Search and return controls; they never match against stored attributes.
inline constexpr const char* kSecMatchLimit = "m_Limit";
inline constexpr const char* kSecMatchLimitOne = "m_LimitOne";
inline constexpr const char* kSecMatchLimitAll = "m_LimitAll";
inline constexpr const char* kSecReturnData = "r_Data";
inline constexpr const char* kSecReturnAttributes = "r_Attributes";

// Adds an item with the given attributes (and kSecValueData). errSecDuplicateItem when an item
// of the same class, service and account exists; errSecParam without a class.
[[nodiscard]] OSStatus SecItemAdd(const Value::Dictionary& attributes, Value* result);
// Finds items whose attributes equal every attribute of the query (strings and data compare
// by their bytes). The result is the data, the attributes (with kSecValueData when data is
// asked for too), or an array of those with kSecMatchLimitAll.
[[nodiscard]] OSStatus SecItemCopyMatching(const Value::Dictionary& query, Value* result);
// Sets the given attributes (and data) on every matching item.
[[nodiscard]] OSStatus SecItemUpdate(const Value::Dictionary& query, const Value::Dictionary& attributesToUpdate);
// Removes every matching item.
[[nodiscard]] OSStatus SecItemDelete(const Value::Dictionary& query);

// The store file: "<home>/Keychain/keychain.plist" unless set; an empty path restores that.
std::string SecKeychainStorePath();
void SecKeychainSetStorePath(const std::string& path);
