// The locale part of the configuration: supported language codes, the default language and the
// languages whose empty values do not fall back.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <set>
#include <string>

class OELocaleConfig : public NSObject {
public:
    static std::shared_ptr<OELocaleConfig> initWithSupportedLanguages(std::set<std::string> supportedLanguages,
                                                                      const std::string& defaultLanguage,
                                                                      std::set<std::string> exceptions);

    const std::set<std::string>& supportedLanguages() const { return supportedLanguages_; }
    void setSupportedLanguages(std::set<std::string> value) { supportedLanguages_ = std::move(value); }
    const std::string& defaultLanguage() const { return defaultLanguage_; }
    void setDefaultLanguage(const std::string& value) { defaultLanguage_ = value; }
    const std::set<std::string>& exceptions() const { return exceptions_; }
    void setExceptions(std::set<std::string> value) { exceptions_ = std::move(value); }

private:
    std::set<std::string> supportedLanguages_;
    std::string defaultLanguage_;
    std::set<std::string> exceptions_;
};
