// Bundles made in the test home: Info.plist in both forms, resources, the choice of
// language and its fall-backs, and string tables in every encoding and syntax they come in.
#include "platform/foundation/NSBundle.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

NSData utf16(const std::string& text, bool littleEndian) {
    NSData data = littleEndian ? NSData{0xFF, 0xFE} : NSData{0xFE, 0xFF};
    for (const char16_t unit : NSString::toUTF16(text)) {
        const auto high = static_cast<std::uint8_t>(unit >> 8), low = static_cast<std::uint8_t>(unit & 0xFF);
        data.push_back(littleEndian ? low : high);
        data.push_back(littleEndian ? high : low);
    }
    return data;
}

class BundleTest : public testing::Test {
protected:
    void SetUp() override {
        path = Sandbox::tmp() + "/" + testing::UnitTest::GetInstance()->current_test_info()->name() + ".app";
        fs::remove_all(path);
        fs::create_directories(path);
        NSLocale::setPreferredLanguages({"en"});
    }
    void TearDown() override { NSLocale::resetPreferredLanguages(); }

    void file(const std::string& relative, const NSData& data) {
        const fs::path full = fs::path(path) / relative;
        fs::create_directories(full.parent_path());
        ASSERT_TRUE(writeDataToFile(data, full.string(), true));
    }
    void file(const std::string& relative, const std::string& text) { file(relative, NSData(text.begin(), text.end())); }

    void info(const Value::Dictionary& dictionary, NSPropertyListSerialization::Format format =
                                                      NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0) {
        file("Info.plist", NSPropertyListSerialization::dataWithPropertyList(Value(dictionary), format));
    }

    std::shared_ptr<NSBundle> bundle() {
        NSBundle::resetCaches();
        auto made = NSBundle::bundleWithPath(path);
        EXPECT_NE(made, nullptr);
        return made;
    }

    std::string path;
};

}  // namespace

TEST_F(BundleTest, InfoPlistInEitherFormGivesIdentifierAndKeys) {
    const Value::Dictionary dictionary{
        {"CFBundleIdentifier", Value("com.example.gallery")},
        {"CFBundleShortVersionString", Value("2.1")},
        {"AppId", Value(123456)},
        {"OstrelEngine", Value(Value::Dictionary{{"OEServerHost", Value("127.0.0.1")}})},
    };
    for (const auto format : {NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0,
                              NSPropertyListSerialization::NSPropertyListBinaryFormat_v1_0}) {
        info(dictionary, format);
        auto b = bundle();
        EXPECT_EQ(b->bundleIdentifier(), "com.example.gallery");
        EXPECT_EQ(b->infoDictionary(), dictionary);
        EXPECT_EQ(b->infoDictionary().keys(), dictionary.keys());
        EXPECT_EQ(b->objectForInfoDictionaryKey("AppId").stringValue(), "123456");
        EXPECT_EQ(b->objectForInfoDictionaryKey("OstrelEngine")["OEServerHost"], Value("127.0.0.1"));
        EXPECT_TRUE(b->objectForInfoDictionaryKey("Missing").isNull());
        EXPECT_EQ(b->bundlePath(), fs::path(path).lexically_normal().string());
        EXPECT_EQ(b->resourcePath(), b->bundlePath());
    }
}

TEST_F(BundleTest, MissingOrDamagedInfoPlistGivesAnEmptyDictionary) {
    EXPECT_TRUE(bundle()->infoDictionary().empty());
    EXPECT_EQ(bundle()->bundleIdentifier(), "");
    file("Info.plist", "<plist><dict><key>broken</key></dict></plist>");
    EXPECT_TRUE(bundle()->infoDictionary().empty());
}

TEST_F(BundleTest, BundlesAreSharedPerFolderAndTheMainOneIsSettable) {
    EXPECT_EQ(NSBundle::bundleWithPath(path), NSBundle::bundleWithPath(path + "/"));
    EXPECT_EQ(NSBundle::bundleWithPath(path + "/missing"), nullptr);
    file("plain", "x");
    EXPECT_EQ(NSBundle::bundleWithPath(path + "/plain"), nullptr);

    info({{"CFBundleIdentifier", Value("com.example.main")}});
    file("en.lproj/Core.strings", "\"Hello\" = \"Hello from main\";");
    ScopedMainBundle main(path);
    EXPECT_EQ(NSBundle::mainBundle()->bundleIdentifier(), "com.example.main");
    EXPECT_EQ(NSLocalizedStringFromTable("Hello", "Core"), "Hello from main");
    EXPECT_EQ(NSLocalizedString("Unknown key"), "Unknown key");
}

TEST_F(BundleTest, ResourcesAreFoundAtTheTopThenInTheChosenLanguage) {
    file("images.sqlite", "db");
    file("articles.sqlite", "db");
    file("notes.txt", "x");
    file("br280x50.png", "png");
    file("fr.lproj/only-french.png", "png");
    file("fr.lproj/images.sqlite", "localized copy");
    file("Data/inner.sqlite", "db");
    EXPECT_EQ(bundle()->pathForResource("images", "sqlite"), bundle()->bundlePath() + "/images.sqlite");
    EXPECT_EQ(bundle()->pathForResource("br280x50.png", ""), bundle()->bundlePath() + "/br280x50.png");
    EXPECT_EQ(bundle()->pathForResource("br280x50", ".png"), bundle()->bundlePath() + "/br280x50.png");
    EXPECT_EQ(bundle()->pathForResource("inner", "sqlite", "Data"), bundle()->bundlePath() + "/Data/inner.sqlite");
    EXPECT_EQ(bundle()->pathForResource("missing", "sqlite"), "");
    EXPECT_EQ(bundle()->pathForResource("../" + fs::path(path).filename().string() + "/images", "sqlite"), "")
        << "a name is one file name";
    EXPECT_EQ(bundle()->pathForResource("only-french", "png"), "") << "English chosen: no French resources";

    NSLocale::setPreferredLanguages({"fr"});
    EXPECT_EQ(bundle()->pathForResource("only-french", "png"), bundle()->bundlePath() + "/fr.lproj/only-french.png");
    EXPECT_EQ(bundle()->pathForResource("images", "sqlite"), bundle()->bundlePath() + "/images.sqlite")
        << "the top folder wins over the language folder";

    NSLocale::setPreferredLanguages({"en"});
    const std::string top = bundle()->bundlePath();
    EXPECT_EQ(bundle()->pathsForResourcesOfType("sqlite"),
              (std::vector<std::string>{top + "/articles.sqlite", top + "/images.sqlite"}));
}

TEST_F(BundleTest, LanguageIsChosenFromPreferencesWithShortenedMatchesAndFallbacks) {
    for (const char* lproj : {"en", "fr", "pt-BR", "zh-Hans", "Base"}) file(std::string(lproj) + ".lproj/x.strings", "");
    info({{"CFBundleDevelopmentRegion", Value("fr")}});
    auto chosen = [&](std::vector<std::string> languages) {
        NSLocale::setPreferredLanguages(std::move(languages));
        const auto list = bundle()->preferredLocalizations();
        return list.empty() ? std::string() : list.front();
    };
    EXPECT_EQ(chosen({"en-GB"}), "en");
    EXPECT_EQ(chosen({"fr-CA", "en"}), "fr");
    EXPECT_EQ(chosen({"uk", "pt-BR"}), "pt-BR");
    EXPECT_EQ(chosen({"pt-PT"}), "pt-BR");
    EXPECT_EQ(chosen({"zh-Hans-CN"}), "zh-Hans");
    EXPECT_EQ(chosen({"zh-Hant-TW"}), "Base") << "another script is not a match";
    EXPECT_EQ(chosen({"ja", "de"}), "Base");
    EXPECT_EQ(bundle()->localizations(), (std::vector<std::string>{"Base", "en", "fr", "pt-BR", "zh-Hans"}));

    fs::remove_all(path + "/Base.lproj");
    EXPECT_EQ(chosen({"ja"}), "en");
    fs::remove_all(path + "/en.lproj");
    EXPECT_EQ(chosen({"ja"}), "fr") << "the development region comes last";
}

TEST_F(BundleTest, StringTablesInUTF8AndUTF16WithEscapesAndComments) {
    file("en.lproj/Localizable.strings",
         "/* A block comment\n   over lines */\n"
         "\"Greeting\" = \"Hello\";\n"
         "// a line comment\n"
         "\"Quoted\" = \"She said \\\"hi\\\"\";\n"
         "\"Slash\" = \"back\\\\slash\";\n"
         "\"Lines\" = \"one\\ntwo\\tthree\";\n"
         "\"Accent\" = \"caf\\U00e9\";\n"
         "\"Emoji\" = \"\\UD83D\\UDE00\";\n"
         "\"Octal\" = \"\\101\";\n"
         "unquoted_key = \"bare key\";\n"
         "\"%@ of %@\" = \"%1$@ of %2$@\";\n"
         "\"Key only\";\n"
         "\"Spaces\"   =   \"x\"  ;  /* trailing */\n");
    const std::string table = "/* French */\n\"Greeting\" = \"Bonjour\";\n\"Downloads\" = \"Téléchargements 📥\";\n";
    file("fr.lproj/Core.strings", utf16(table, true));
    file("de.lproj/Core.strings", utf16("\"Greeting\" = \"Hallo\";", false));
    file("en.lproj/Core.strings", "\xEF\xBB\xBF\"Greeting\" = \"Hello core\";");

    auto b = bundle();
    EXPECT_EQ(b->localizedStringForKey("Greeting", "", ""), "Hello");
    EXPECT_EQ(b->localizedStringForKey("Quoted", "", "Localizable"), "She said \"hi\"");
    EXPECT_EQ(b->localizedStringForKey("Slash", "", ""), "back\\slash");
    EXPECT_EQ(b->localizedStringForKey("Lines", "", ""), "one\ntwo\tthree");
    EXPECT_EQ(b->localizedStringForKey("Accent", "", ""), "café");
    EXPECT_EQ(b->localizedStringForKey("Emoji", "", ""), "😀");
    EXPECT_EQ(b->localizedStringForKey("Octal", "", ""), "A");
    EXPECT_EQ(b->localizedStringForKey("unquoted_key", "", ""), "bare key");
    EXPECT_EQ(b->localizedStringForKey("%@ of %@", "", ""), "%1$@ of %2$@");
    EXPECT_EQ(b->localizedStringForKey("Key only", "", ""), "Key only");
    EXPECT_EQ(b->localizedStringForKey("Spaces", "", ""), "x");
    EXPECT_EQ(b->localizedStringForKey("Greeting", "", "Core"), "Hello core");

    NSLocale::setPreferredLanguages({"fr-FR"});
    EXPECT_EQ(b->localizedStringForKey("Greeting", "", "Core"), "Bonjour") << "caches follow the language";
    EXPECT_EQ(b->localizedStringForKey("Downloads", "", "Core"), "Téléchargements 📥");
    NSLocale::setPreferredLanguages({"de"});
    EXPECT_EQ(b->localizedStringForKey("Greeting", "", "Core"), "Hallo");
}

TEST_F(BundleTest, MissingKeysTablesAndDamagedFilesFallBackToValueOrKey) {
    file("en.lproj/Core.strings", "\"Known\" = \"Known text\";");
    file("en.lproj/Broken.strings", "\"Known\" = \"Known text\"\n\"No semicolon\" = \"x\";");
    file("en.lproj/Unterminated.strings", "\"Known\" = \"never closed;");
    file("en.lproj/BadUTF16.strings", NSData{0xFF, 0xFE, 0x00, 0xD8, 0x41, 0x00});
    auto b = bundle();
    EXPECT_EQ(b->localizedStringForKey("Unknown", "", "Core"), "Unknown");
    EXPECT_EQ(b->localizedStringForKey("Unknown", "Default", "Core"), "Default");
    EXPECT_EQ(b->localizedStringForKey("Known", "", "NoSuchTable"), "Known");
    for (const char* table : {"Broken", "Unterminated", "BadUTF16"})
        EXPECT_EQ(b->localizedStringForKey("Known", "", table), "Known") << table;
}

// A table name is one file name: one that climbs out of the language folder names no table.
TEST_F(BundleTest, TableNamesThatAreNotOneFileNameFindNothing) {
    file("en.lproj/Core.strings", "\"Known\" = \"Known text\";");
    file("Escape.strings", "\"Known\" = \"escaped\";");
    file("en.lproj/sub/Nested.strings", "\"Known\" = \"nested\";");
    auto b = bundle();
    EXPECT_EQ(b->localizedStringForKey("Known", "", "Core"), "Known text");
    for (const char* table : {"../Escape", "sub/Nested", "..", "."})
        EXPECT_EQ(b->localizedStringForKey("Known", "", table), "Known") << table;
}

TEST_F(BundleTest, TablesFallBackToOtherLocalizationsOnlyWhenTheChosenOneLacksTheFile) {
    file("Base.lproj/Settings.strings", "\"Title\" = \"Base settings\";");
    file("en.lproj/Core.strings", "\"Title\" = \"English core\";");
    file("fr.lproj/Core.strings", "\"Other\" = \"Autre\";");
    file("Plain.strings", "\"Title\" = \"Top-level table\";");
    NSLocale::setPreferredLanguages({"fr"});
    auto b = bundle();
    EXPECT_EQ(b->localizedStringForKey("Title", "", "Settings"), "Base settings");
    EXPECT_EQ(b->localizedStringForKey("Title", "", "Core"), "Title") << "French table exists but lacks the key";
    EXPECT_EQ(b->localizedStringForKey("Title", "", "Plain"), "Top-level table");
}

TEST_F(BundleTest, StringsFilesChangedOnDiskAreReadAfterAReset) {
    file("en.lproj/Core.strings", "\"Key\" = \"First\";");
    auto b = bundle();
    EXPECT_EQ(b->localizedStringForKey("Key", "", "Core"), "First");
    file("en.lproj/Core.strings", "\"Key\" = \"Second\";");
    EXPECT_EQ(b->localizedStringForKey("Key", "", "Core"), "First") << "cached";
    NSBundle::resetCaches();
    EXPECT_EQ(b->localizedStringForKey("Key", "", "Core"), "Second");
}

TEST_F(BundleTest, TablesMayBePropertyLists) {
    file("en.lproj/Core.strings", NSPropertyListSerialization::dataWithPropertyList(
                                      Value(Value::Dictionary{{"Key", Value("From a plist")}}),
                                      NSPropertyListSerialization::NSPropertyListBinaryFormat_v1_0));
    EXPECT_EQ(bundle()->localizedStringForKey("Key", "", "Core"), "From a plist");
}

TEST_F(BundleTest, LocalizedInfoDictionaryComesFirst) {
    info({{"CFBundleDisplayName", Value("Gallery")}, {"CFBundleVersion", Value("7")}});
    file("fr.lproj/InfoPlist.strings", utf16("\"CFBundleDisplayName\" = \"Galerie\";", true));
    file("en.lproj/x.strings", "");
    auto b = bundle();
    EXPECT_TRUE(b->localizedInfoDictionary().empty());
    EXPECT_EQ(b->objectForInfoDictionaryKey("CFBundleDisplayName"), Value("Gallery"));
    NSLocale::setPreferredLanguages({"fr-CA"});
    EXPECT_EQ(b->localizedInfoDictionary().get("CFBundleDisplayName"), Value("Galerie"));
    EXPECT_EQ(b->objectForInfoDictionaryKey("CFBundleDisplayName"), Value("Galerie"));
    EXPECT_EQ(b->objectForInfoDictionaryKey("CFBundleVersion"), Value("7"));
}
