// The CoreFoundation preferences functions as a thin layer over the user-defaults stores.
#include "platform/foundation/CFPreferences.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSUserDefaults.h"

#include <cstdio>
#include <memory>

class CFPreferencesBackend {
public:
    using Store = NSUserDefaults::Store;

    // The store of one (application, user, host) domain; empty for domains we cannot keep.
    static std::shared_ptr<Store> store(const std::string& applicationID, const std::string& userName,
                                        const std::string& hostName) {
        if (userName != kCFPreferencesCurrentUser) return nullptr;
        std::string domain = applicationID == kCFPreferencesCurrentApplication
                                 ? NSUserDefaults::standardUserDefaults()->domainName()
                                 : applicationID;
        if (!NSUserDefaults::isValidDomainName(domain) || applicationID == kCFPreferencesAnyApplication) {
            Diagnostics::notef("\"%s\" cannot be used as a preferences application identifier.",
                               applicationID.c_str());
            return nullptr;
        }
        if (hostName == kCFPreferencesCurrentHost) return NSUserDefaults::storeForDomain("ByHost/" + domain);
        if (hostName != kCFPreferencesAnyHost) return nullptr;
        return NSUserDefaults::storeForDomain(domain);
    }

    static Value value(const std::shared_ptr<Store>& s, const std::string& key) {
        return s ? NSUserDefaults::storeValue(s, key) : Value();
    }
    static Value globalValue(const std::string& key) { return NSUserDefaults::globalValue(key); }
    static std::vector<std::string> keys(const std::shared_ptr<Store>& s) {
        return s ? NSUserDefaults::storeContents(s).keys() : std::vector<std::string>();
    }
    static void update(const std::shared_ptr<Store>& s, const Value::Dictionary& toSet,
                       const std::vector<std::string>& toRemove) {
        // The preferences setters return nothing: a refused value has been told on standard error.
        if (s) (void)NSUserDefaults::storeUpdate(s, toSet, toRemove);
    }
    static bool synchronize(const std::shared_ptr<Store>& s) { return s && NSUserDefaults::storeSynchronize(s); }
};

namespace {

void setOne(const std::string& key, const Value& value, const std::string& applicationID, const std::string& userName,
            const std::string& hostName) {
    auto store = CFPreferencesBackend::store(applicationID, userName, hostName);
    if (value.isNull()) {
        CFPreferencesBackend::update(store, {}, {key});
    } else {
        Value::Dictionary change;
        change.set(key, value);
        CFPreferencesBackend::update(store, change, {});
    }
}

}  // namespace

Value CFPreferencesCopyAppValue(const std::string& key, const std::string& applicationID) {
    Value value = CFPreferencesBackend::value(
        CFPreferencesBackend::store(applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost), key);
    return value.isNull() ? CFPreferencesBackend::globalValue(key) : value;
}

void CFPreferencesSetAppValue(const std::string& key, const Value& value, const std::string& applicationID) {
    setOne(key, value, applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

Value CFPreferencesCopyValue(const std::string& key, const std::string& applicationID, const std::string& userName,
                             const std::string& hostName) {
    return CFPreferencesBackend::value(CFPreferencesBackend::store(applicationID, userName, hostName), key);
}

void CFPreferencesSetValue(const std::string& key, const Value& value, const std::string& applicationID,
                           const std::string& userName, const std::string& hostName) {
    setOne(key, value, applicationID, userName, hostName);
}

std::vector<std::string> CFPreferencesCopyKeyList(const std::string& applicationID, const std::string& userName,
                                                  const std::string& hostName) {
    return CFPreferencesBackend::keys(CFPreferencesBackend::store(applicationID, userName, hostName));
}

void CFPreferencesSetMultiple(const Value::Dictionary& keysToSet, const std::vector<std::string>& keysToRemove,
                              const std::string& applicationID, const std::string& userName,
                              const std::string& hostName) {
    CFPreferencesBackend::update(CFPreferencesBackend::store(applicationID, userName, hostName), keysToSet,
                                 keysToRemove);
}

bool CFPreferencesAppSynchronize(const std::string& applicationID) {
    return CFPreferencesSynchronize(applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

bool CFPreferencesSynchronize(const std::string& applicationID, const std::string& userName,
                              const std::string& hostName) {
    return CFPreferencesBackend::synchronize(CFPreferencesBackend::store(applicationID, userName, hostName));
}
