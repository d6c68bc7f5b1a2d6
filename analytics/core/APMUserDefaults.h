// A typed key-value store over the system preferences: either a user-defaults suite or the
// CoreFoundation preferences of an application identifier (chosen by Info.plist).
#pragma once

#include "analytics/core/APMConfigStore.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <memory>
#include <string>

class NSUserDefaults;

class APMUserDefaults : public NSObject, public APMConfigStore {
public:
    // Info.plist "UseCFPreferencesLibrary": its boolean when it is a number, YES otherwise.
    // Read once per process.
    static bool userPreferenceEnabled();
    // The shared suite-less store; its preferences file counts as already excluded from backup.
    static std::shared_ptr<APMUserDefaults> standardUserDefaults();
    static std::shared_ptr<APMUserDefaults> make() { return initWithSuiteName(""); }
    // An empty name means the application's own domain.
    [[nodiscard]] static std::shared_ptr<APMUserDefaults> initWithSuiteName(const std::string& suiteName);

    const std::string& suiteName() const { return suiteName_; }
    bool useCFPreferencesLibrary() const;
    // Switching on drops the user-defaults object; switching off makes one when there is none.
    void setUseCFPreferencesLibrary(bool use);
    bool isPreferenceFileExcluded() const;
    void setIsPreferenceFileExcluded(bool excluded);

    Value objectForKey(const Value& key) override;
    void setObject(const Value& value, const Value& key) override;
    void removeObjectForKey(const Value& key) override;
    void clearAllData() override;
    // Writes to disk, then (once) marks the suite's preferences file not to be backed up.
    void synchronize() override;
    // Only for a named suite (the application's own domain follows the main bundle).
    std::optional<std::uint64_t> changeStamp() const override;

private:
    void makeUserDefaultsLocked() REQUIRES(mutex_);
    std::shared_ptr<NSUserDefaults> userDefaults() const;

    std::string suiteName_;
    std::string appNameRef_;
    mutable Mutex mutex_;
    std::shared_ptr<NSUserDefaults> userDefaults_ GUARDED_BY(mutex_);
    // The suite's domain, whichever way it is read, watched for changes.
    std::shared_ptr<NSUserDefaults> watchedDomain_;
    bool useCFPreferencesLibrary_ GUARDED_BY(mutex_) = true;
    bool isPreferenceFileExcluded_ GUARDED_BY(mutex_) = false;
};
