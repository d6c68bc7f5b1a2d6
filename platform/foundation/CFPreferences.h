// The CoreFoundation preferences functions, over the same per-domain stores and files as
// NSUserDefaults: an application identifier and a suite of that name are one domain.
#pragma once

#include "platform/foundation/Value.h"

#include <string>
#include <vector>

inline constexpr const char* kCFPreferencesCurrentApplication = "kCFPreferencesCurrentApplication";
inline constexpr const char* kCFPreferencesAnyApplication = "kCFPreferencesAnyApplication";
inline constexpr const char* kCFPreferencesCurrentUser = "kCFPreferencesCurrentUser";
inline constexpr const char* kCFPreferencesAnyUser = "kCFPreferencesAnyUser";
inline constexpr const char* kCFPreferencesCurrentHost = "kCFPreferencesCurrentHost";
inline constexpr const char* kCFPreferencesAnyHost = "kCFPreferencesAnyHost";

// The application's value for `key` (current user, any host), else the global values
// ("AppleLanguages"); null when absent. The registration domain of NSUserDefaults is not searched.
Value CFPreferencesCopyAppValue(const std::string& key, const std::string& applicationID);
// Null removes the key. Values a property list cannot hold are refused with a message.
void CFPreferencesSetAppValue(const std::string& key, const Value& value, const std::string& applicationID);

// One exact domain: the current user's, for any host or this host. Other users' domains cannot
// be read (null, empty) or written (nothing happens).
Value CFPreferencesCopyValue(const std::string& key, const std::string& applicationID, const std::string& userName,
                             const std::string& hostName);
void CFPreferencesSetValue(const std::string& key, const Value& value, const std::string& applicationID,
                           const std::string& userName, const std::string& hostName);
std::vector<std::string> CFPreferencesCopyKeyList(const std::string& applicationID, const std::string& userName,
                                                  const std::string& hostName);
// Sets `keysToSet`, then removes `keysToRemove`, in one change of the domain.
void CFPreferencesSetMultiple(const Value::Dictionary& keysToSet, const std::vector<std::string>& keysToRemove,
                              const std::string& applicationID, const std::string& userName,
                              const std::string& hostName);

// Writes the application's pending changes (or rereads a file changed on disk); false when the
// write failed.
[[nodiscard]] bool CFPreferencesAppSynchronize(const std::string& applicationID);
[[nodiscard]] bool CFPreferencesSynchronize(const std::string& applicationID, const std::string& userName,
                                            const std::string& hostName);
