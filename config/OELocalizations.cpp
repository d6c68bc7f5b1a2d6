// Display language, per-language column names and localised row values.
#include "config/OELocalizations.h"

#include "platform/foundation/NSUserDefaults.h"

namespace {
constexpr const char* kRussian = "ru";
}  // namespace

std::shared_ptr<OELocalizations> OELocalizations::initWithConfig(std::shared_ptr<OELocaleConfig> config,
                                                                 const std::string& nameFieldKey) {
    if (!config) return nullptr;
    auto l = std::make_shared<OELocalizations>();
    l->config_ = std::move(config);
    l->nameFieldKey_ = nameFieldKey.empty() ? std::string("name") : nameFieldKey;
    return l;
}

std::string OELocalizations::languageStr() const {
    const Value::Array languages = NSUserDefaults::standardUserDefaults()->arrayForKey("AppleLanguages");
    if (!languages.empty() && languages.front().isString()) {
        const std::string& first = languages.front().string();
        const std::string code = first.substr(0, first.find('-'));
        if (config_->supportedLanguages().count(code)) return code;
    }
    return config_->defaultLanguage();
}

bool OELocalizations::isRussian() const { return languageStr() == kRussian; }

bool OELocalizations::isEnglish() const { return languageStr() == "en"; }

bool OELocalizations::isInExeption() const { return config_->exceptions().count(languageStr()) > 0; }

std::string OELocalizations::formatLocalizedField(const std::string& key, const std::string& locale) const {
    if (locale == kRussian) return key;
    return key + "_" + locale;
}

std::string OELocalizations::localizedField(const std::string& key) const { return formatLocalizedField(key, languageStr()); }

std::string OELocalizations::localizedNameField() const { return localizedField(nameFieldKey()); }

std::string OELocalizations::localizedAuthorField() const { return localizedField(authorNameFieldKey()); }

std::string OELocalizations::localizedDescriptionField() const { return localizedField(descriptionFieldKey()); }

std::string OELocalizations::localizedAuthorDescriptionField() const {
    return localizedField(authorDescriptionFieldKey());
}

std::vector<std::string> OELocalizations::localizedFieldsForAllLanguages(const std::string& key) const {
    std::vector<std::string> fields;
    if (config_->supportedLanguages().count(kRussian)) fields.push_back(key);
    for (const std::string& language : config_->supportedLanguages()) {
        if (language != kRussian) fields.push_back(formatLocalizedField(key, language));
    }
    return fields;
}

std::string OELocalizations::localizedValueFor(const std::string& key, const Value::Dictionary& row) const {
    const std::string language = languageStr();
    std::string value = row.get(formatLocalizedField(key, language)).stringValue();
    if (!value.empty()) return value;
    if (config_->exceptions().count(language)) return value;
    return row.get(formatLocalizedField(key, config_->defaultLanguage())).stringValue();
}

std::string OELocalizations::localizedNameFieldValue(const Value::Dictionary& row) const {
    return localizedValueFor(nameFieldKey(), row);
}

std::string OELocalizations::localizedAuthorFieldValue(const Value::Dictionary& row) const {
    return localizedValueFor(authorNameFieldKey(), row);
}

std::string OELocalizations::localizedDescriptionFieldValue(const Value::Dictionary& row) const {
    return localizedValueFor(descriptionFieldKey(), row);
}

std::string OELocalizations::localizedAuthorDescriptionFieldValue(const Value::Dictionary& row) const {
    return localizedValueFor(authorDescriptionFieldKey(), row);
}
