// The typed store over user defaults or CoreFoundation preferences.
#include "analytics/core/APMUserDefaults.h"

#include "analytics/core/APMStoreLog.h"
#include "analytics/core/APMFileLocations.h"
#include "platform/foundation/CFPreferences.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSUserDefaults.h"

#include <mutex>

bool APMUserDefaults::userPreferenceEnabled() {
    static const bool enabled = [] {
        auto bundle = NSBundle::mainBundle();
        if (!bundle) return true;
        const Value value = bundle->objectForInfoDictionaryKey("UseCFPreferencesLibrary");
        return value.isNumber() ? value.boolValue() : true;
    }();
    return enabled;
}

std::shared_ptr<APMUserDefaults> APMUserDefaults::standardUserDefaults() {
    // Never destroyed: work still queued at exit may use it.
    static const std::shared_ptr<APMUserDefaults>& shared = *new std::shared_ptr<APMUserDefaults>([] {
        auto defaults = initWithSuiteName("");
        defaults->setIsPreferenceFileExcluded(true);
        return defaults;
    }());
    return shared;
}

std::shared_ptr<APMUserDefaults> APMUserDefaults::initWithSuiteName(const std::string& suiteName) {
    auto defaults = std::make_shared<APMUserDefaults>();
    defaults->suiteName_ = suiteName;
    defaults->appNameRef_ = suiteName.empty() ? std::string(kCFPreferencesCurrentApplication) : suiteName;
    const bool useLibrary = userPreferenceEnabled();
    {
        MutexLock lock(defaults->mutex_);
        defaults->useCFPreferencesLibrary_ = useLibrary;
        if (!useLibrary) defaults->makeUserDefaultsLocked();
    }
    // The preferences functions and a defaults object of the suite's name share one domain.
    if (!suiteName.empty()) defaults->watchedDomain_ = NSUserDefaults::initWithSuiteName(suiteName);
    return defaults;
}

void APMUserDefaults::makeUserDefaultsLocked() {
    if (!suiteName_.empty()) userDefaults_ = NSUserDefaults::initWithSuiteName(suiteName_);
    if (!userDefaults_) userDefaults_ = NSUserDefaults::standardUserDefaults();
}

std::shared_ptr<NSUserDefaults> APMUserDefaults::userDefaults() const {
    MutexLock lock(mutex_);
    return useCFPreferencesLibrary_ ? nullptr : userDefaults_;
}

bool APMUserDefaults::useCFPreferencesLibrary() const {
    MutexLock lock(mutex_);
    return useCFPreferencesLibrary_;
}

void APMUserDefaults::setUseCFPreferencesLibrary(bool use) {
    MutexLock lock(mutex_);
    if (use != useCFPreferencesLibrary_) {
        if (use) userDefaults_.reset();
        else if (!userDefaults_) makeUserDefaultsLocked();
    }
    useCFPreferencesLibrary_ = use;
}

bool APMUserDefaults::isPreferenceFileExcluded() const {
    MutexLock lock(mutex_);
    return isPreferenceFileExcluded_;
}

void APMUserDefaults::setIsPreferenceFileExcluded(bool excluded) {
    MutexLock lock(mutex_);
    isPreferenceFileExcluded_ = excluded;
}

Value APMUserDefaults::objectForKey(const Value& key) {
    if (!isValidKey(key)) {
        APMStoreLogWarning(41001, "Cannot get object for invalid user default key.");
        return Value();
    }
    if (auto defaults = userDefaults()) return defaults->objectForKey(key.string());
    return CFPreferencesCopyValue(key.string(), appNameRef_, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

void APMUserDefaults::setObject(const Value& value, const Value& key) {
    if (!isValidKey(key)) {
        APMStoreLogWarning(41002, "Cannot set object for invalid user default key.");
        return;
    }
    auto defaults = userDefaults();
    if (value.isNull()) {
        // A removal refuses nothing.
        if (defaults) (void)defaults->setObject(Value(), key.string());
        else CFPreferencesSetAppValue(key.string(), Value(), appNameRef_);
        return;
    }
    if (!isAcceptedValue(value)) {
        APMStoreLogWarning(41003, "Cannot set invalid object to user defaults. Must be a string or number or an array. Value " +
                              value.description());
        return;
    }
    if (!defaults) CFPreferencesSetAppValue(key.string(), value.deepCopy(), appNameRef_);
    else if (!defaults->setObject(value, key.string()))
        APMStoreLogWarning(41003, "Cannot set invalid object to user defaults. Must be a string or number or an array. Value " +
                              value.description());
}

void APMUserDefaults::removeObjectForKey(const Value& key) {
    auto defaults = userDefaults();
    if (!defaults) {
        setObject(Value(), key);
        return;
    }
    if (!isValidKey(key)) {
        APMStoreLogWarning(41002, "Cannot set object for invalid user default key.");
        return;
    }
    defaults->removeObjectForKey(key.string());
}

void APMUserDefaults::clearAllData() {
    if (auto defaults = userDefaults()) {
        const std::string domain =
            suiteName_.empty() ? NSUserDefaults::standardUserDefaults()->domainName() : suiteName_;
        defaults->removePersistentDomainForName(domain);
        return;
    }
    auto keys = CFPreferencesCopyKeyList(appNameRef_, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    if (!keys.empty()) {
        CFPreferencesSetMultiple({}, keys, appNameRef_, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    }
}

std::optional<std::uint64_t> APMUserDefaults::changeStamp() const {
    if (!watchedDomain_) return std::nullopt;
    return watchedDomain_->changeCount();
}

void APMUserDefaults::synchronize() {
    if (auto defaults = userDefaults()) {
        if (!defaults->synchronize()) APMStoreLogError(41004, "Cannot synchronize user defaults to disk");
    } else if (!CFPreferencesAppSynchronize(appNameRef_)) {
        APMStoreLogError(41004, "Cannot synchronize user defaults to disk");
    }
    MutexLock lock(mutex_);
    if (isPreferenceFileExcluded_) return;
    const std::string path = APMPreferencesPlistPath(suiteName_);
    if (path.empty() || !NSFileManager::defaultManager()->fileExistsAtPath(path)) return;
    NSErrorPtr error;
    if (APMExcludePathFromBackup(path, &error)) {
        isPreferenceFileExcluded_ = true;
    } else {
        APMStoreLogWarning(41000, "Failed to exclude preferences file from backup. Error code " +
                              (error ? error->description() : std::string("(null)")));
    }
}
