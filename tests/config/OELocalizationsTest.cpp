// Display language, per-language column names and values with their fall-back.
#include "config/OEConfig.h"
#include "config/OEConfigFactory.h"
#include "config/OEContext.h"
#include "config/OELocalizations.h"
#include "platform/foundation/NSLocale.h"

#include <gtest/gtest.h>

namespace {

class OELocalizationsTest : public testing::Test {
protected:
    void SetUp() override {
        localizations_ = OELocalizations::initWithConfig(
            OEConfigFactory::initWithAppServerLikesIdentifer("", "", "", "")->makeLocaleConfig());
    }
    void TearDown() override { NSLocale::resetPreferredLanguages(); }

    void speak(const std::string& language) { NSLocale::setPreferredLanguages({language, "en"}); }

    std::shared_ptr<OELocalizations> localizations_;
};

const Value::Dictionary kRow = {
    {"name", "Звёздная ночь"}, {"name_en", "The Starry Night"}, {"name_fr", "La Nuit étoilée"},
    {"name_de", ""},          {"author_name", "Винсент ван Гог"}, {"author_name_en", "Vincent van Gogh"},
    {"description", ""},      {"description_en", "Swirling stars."}, {"index", 12},
};

}  // namespace

TEST_F(OELocalizationsTest, LanguageIsTheFirstPreferredOneCutAtTheDash) {
    struct Case {
        const char* preferred;
        const char* language;
    };
    for (const Case& c : {Case{"fr-CA", "fr"}, Case{"pt-BR", "pt"}, Case{"zh-Hans-CN", "zh"}, Case{"en", "en"},
                          Case{"ru-RU", "ru"}, Case{"uk", "en"}, Case{"nl-BE", "en"}, Case{"", "en"}}) {
        speak(c.preferred);
        EXPECT_EQ(localizations_->languageStr(), c.language) << c.preferred;
    }
    NSLocale::setPreferredLanguages({});
    EXPECT_EQ(localizations_->languageStr(), "en");
}

TEST_F(OELocalizationsTest, LanguageQueries) {
    speak("ru");
    EXPECT_TRUE(localizations_->isRussian());
    EXPECT_TRUE(localizations_->isInExeption());
    EXPECT_FALSE(localizations_->isEnglish());
    speak("en-GB");
    EXPECT_TRUE(localizations_->isEnglish());
    EXPECT_FALSE(localizations_->isInExeption());
}

TEST_F(OELocalizationsTest, ColumnNamesPerLanguage) {
    speak("fr-CA");
    EXPECT_EQ(localizations_->localizedNameField(), "name_fr");
    EXPECT_EQ(localizations_->localizedAuthorField(), "author_name_fr");
    speak("uk");
    EXPECT_EQ(localizations_->localizedNameField(), "name_en");
    speak("ru");
    EXPECT_EQ(localizations_->localizedNameField(), "name");
    EXPECT_EQ(localizations_->localizedAuthorField(), "author_name");
    EXPECT_EQ(localizations_->localizedDescriptionField(), "description");
    EXPECT_EQ(localizations_->localizedAuthorDescriptionField(), "author_description");
    speak("ja");
    EXPECT_EQ(localizations_->localizedAuthorDescriptionField(), "author_description_ja");
    // The base column belongs to "ru" itself, not to the default language.
    EXPECT_EQ(localizations_->formatLocalizedField("name", "ru"), "name");
    EXPECT_EQ(localizations_->formatLocalizedField("name", "en"), "name_en");
}

TEST_F(OELocalizationsTest, ColumnsOfEveryLanguageForSQLAliases) {
    const auto fields = localizations_->localizedFieldsForAllLanguages("author_name");
    ASSERT_EQ(fields.size(), 11u);
    EXPECT_EQ(fields.front(), "author_name");
    for (const char* language : {"en", "fr", "de", "it", "zh", "ja", "ko", "pt", "es", "tr"}) {
        EXPECT_NE(std::find(fields.begin(), fields.end(), std::string("author_name_") + language), fields.end());
    }
}

TEST_F(OELocalizationsTest, ValueMatrix) {
    struct Case {
        const char* language;
        const char* key;
        const char* expected;
    };
    for (const Case& c : {
             Case{"fr", "name", "La Nuit étoilée"},        // own language
             Case{"de", "name", "The Starry Night"},       // empty own value falls back to English
             Case{"it", "name", "The Starry Night"},       // missing own column falls back too
             Case{"en", "name", "The Starry Night"},
             Case{"ru", "name", "Звёздная ночь"},
             Case{"ru", "description", ""},                // Russian never falls back
             Case{"ru", "author_description", ""},         // nor when the column is missing
             Case{"es", "author_name", "Vincent van Gogh"},
             Case{"tr", "nothing", ""},                    // neither column: an empty string
         }) {
        speak(c.language);
        EXPECT_EQ(localizations_->localizedValueFor(c.key, kRow), c.expected) << c.language << " " << c.key;
    }
}

TEST_F(OELocalizationsTest, EmptyEnglishStaysEmpty) {
    speak("en");
    const Value::Dictionary row = {{"name", "Без названия"}, {"name_en", ""}};
    EXPECT_EQ(localizations_->localizedNameFieldValue(row), "");
}

TEST_F(OELocalizationsTest, NonTextValuesAreReadAsText) {
    speak("de");
    const Value::Dictionary row = {{"name_de", Value()}, {"name_en", 1889}};
    EXPECT_EQ(localizations_->localizedNameFieldValue(row), "1889");
}

TEST_F(OELocalizationsTest, ShortcutsUseTheirBaseKeys) {
    speak("en");
    EXPECT_EQ(localizations_->localizedNameFieldValue(kRow), "The Starry Night");
    EXPECT_EQ(localizations_->localizedAuthorFieldValue(kRow), "Vincent van Gogh");
    EXPECT_EQ(localizations_->localizedDescriptionFieldValue(kRow), "Swirling stars.");
    EXPECT_EQ(localizations_->localizedAuthorDescriptionFieldValue(kRow), "");
}

TEST_F(OELocalizationsTest, NameKeyIsTheOneHandedIn) {
    const auto locale = OEConfigFactory::initWithAppServerLikesIdentifer("", "", "", "")->makeLocaleConfig();
    speak("fr");
    EXPECT_EQ(OELocalizations::initWithConfig(locale, "title")->localizedNameField(), "title_fr");
    EXPECT_EQ(OELocalizations::initWithConfig(locale, "")->localizedNameField(), "name_fr");
    EXPECT_EQ(localizations_->localizedNameField(), "name_fr");
}

TEST(OEContextTest, LocalisationsOfAContextFollowItsConfiguration) {
    auto config = OEConfigFactory::initWithAppServerLikesIdentifer("", "", "", "")->makeConfig();
    config->database()->setNameFieldKey("title");
    const OEContext context = OEContext::withConfig(config);
    ASSERT_TRUE(context.localizations);
    ASSERT_TRUE(context.fileSystem);
    EXPECT_EQ(context.config, config);
    EXPECT_EQ(context.localizations->config(), config->locale());
    EXPECT_EQ(context.localizations->nameFieldKey(), "title");
}
