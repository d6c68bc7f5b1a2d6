// Reading settings over the standard user defaults.
#include "config/AppConfig.h"

#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/ProcessShared.h"

namespace {
ProcessShared<AppConfig> gSettings;
}  // namespace

std::shared_ptr<AppConfig> AppConfig::sharedAppConfig() { return gSettings.get(); }

void AppConfig::resetSharedAppConfig() { (void)gSettings.take(); }

bool AppConfig::hasSharedAppConfig() { return gSettings.current() != nullptr; }

void AppConfig::setTextsConfig(std::shared_ptr<OETextsConfig> textsConfig) {
    MutexLock lock(mutex_);
    texts_ = std::move(textsConfig);
}

std::int64_t AppConfig::intValue(const std::string& key) const {
    const Value stored = NSUserDefaults::standardUserDefaults()->objectForKey(key);
    if (stored.isNull()) return defaultInt(key);
    return static_cast<std::int64_t>(stored.intValue());
}

std::string AppConfig::strValue(const std::string& key) const {
    const Value stored = NSUserDefaults::standardUserDefaults()->objectForKey(key);
    if (stored.isNull()) return defaultStr(key);
    return stored.stringValue();
}

void AppConfig::setInt(std::int64_t value, const std::string& key) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    // A number is always a property-list value.
    (void)defaults->setObject(Value(static_cast<long long>(value)), key);
    // A failed write is told by the defaults, which keep the value and write it with the next change.
    (void)defaults->synchronize();
}

void AppConfig::setStr(const std::string& value, const std::string& key) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    // A string is always a property-list value.
    (void)defaults->setObject(Value(value), key);
    // A failed write is told by the defaults, which keep the value and write it with the next change.
    (void)defaults->synchronize();
}

std::int64_t AppConfig::defaultInt(const std::string& key) const {
    if (key == kFontSizeKey || key == kFontSizeTextsKey) {
        std::shared_ptr<OETextsConfig> texts;
        {
            MutexLock lock(mutex_);
            texts = texts_;
        }
        if (!texts) return 0;
        return key == kFontSizeKey ? texts->defFontSize() : texts->textDefFontSize();
    }
    if (key == kTextAlignInfoKey || key == kTextAlignKey) return 1;
    return 0;
}

std::string AppConfig::defaultStr(const std::string& key) const {
    if (key == kFontNameKey) return "Times New Roman";
    return {};
}
