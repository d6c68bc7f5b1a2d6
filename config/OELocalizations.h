// Chooses the display language from the user's languages and maps content field names to their
// per-language columns ("name" → "name_fr"; Russian lives in the base column), reading row
// values with the fall-back to the default language.
#pragma once

#include "config/OELocaleConfig.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>
#include <vector>

class OELocalizations : public NSObject {
public:
    // `nameFieldKey` is the database part's base name column; "" stands for "name".
    [[nodiscard]] static std::shared_ptr<OELocalizations> initWithConfig(std::shared_ptr<OELocaleConfig> config,
                                                           const std::string& nameFieldKey = "name");

    const std::shared_ptr<OELocaleConfig>& config() const { return config_; }

    // Worked out again on every call from the user defaults' "AppleLanguages".
    std::string languageStr() const;
    bool isRussian() const;
    bool isEnglish() const;
    bool isInExeption() const;

    // Base keys.
    const std::string& nameFieldKey() const { return nameFieldKey_; }
    std::string authorNameFieldKey() const { return "author_name"; }
    std::string descriptionFieldKey() const { return "description"; }
    std::string authorDescriptionFieldKey() const { return "author_description"; }

    // The base key for "ru", else "<key>_<locale>".
    std::string formatLocalizedField(const std::string& key, const std::string& locale) const;
    std::string localizedField(const std::string& key) const;
    std::string localizedNameField() const;
    std::string localizedAuthorField() const;
    std::string localizedDescriptionField() const;
    std::string localizedAuthorDescriptionField() const;
    // The column of every supported language for a base key: the base column first when "ru"
    // is supported, then the others by language code. For building SQL aliases.
    std::vector<std::string> localizedFieldsForAllLanguages(const std::string& key) const;

    // The display language's value when not empty; for an exception language that value as it
    // is; else the default language's value. Always a string: "" when there is nothing to show.
    // Values are read with Value::stringValue, so numbers and nulls in a row are tolerated.
    std::string localizedValueFor(const std::string& key, const Value::Dictionary& row) const;
    std::string localizedNameFieldValue(const Value::Dictionary& row) const;
    std::string localizedAuthorFieldValue(const Value::Dictionary& row) const;
    std::string localizedDescriptionFieldValue(const Value::Dictionary& row) const;
    std::string localizedAuthorDescriptionFieldValue(const Value::Dictionary& row) const;

private:
    std::shared_ptr<OELocaleConfig> config_;
    std::string nameFieldKey_;
};
