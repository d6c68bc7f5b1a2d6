// The configuration tree built from a bundle: database discovery, URL formats, Info.plist values
// and the defaults when the Info.plist is broken.
#include "config/AppInfo.h"
#include "config/OEConfigFactory.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIDevice.h"
#include "tests/config/TestBundle.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<OEDBConfig> databasesOf(const std::vector<std::string>& files) {
    TestBundle bundle;
    bundle.writeInfoPlist("<key>CFBundleIdentifier</key><string>com.example.test</string>");
    for (const auto& file : files) bundle.write(file, "");
    return OEConfigFactory::initWithAppServerLikesIdentifer("", "", "", "")->makeDBConfig();
}

}  // namespace

TEST(OEConfigFactoryDatabases, FindsEachKindByNameAndKeepsTheExtension) {
    auto db = databasesOf({"images.sqlite", "media.sqlite"});
    EXPECT_EQ(db->imagesDBName(), "images.sqlite");
    EXPECT_EQ(db->mediaDBName(), "media.sqlite");
    EXPECT_EQ(db->textDBName(), "");
    EXPECT_EQ(db->articlesDBName(), "");
    EXPECT_EQ(db->defaultDBName(), "Gallery");
    EXPECT_EQ(db->nameFieldKey(), "name");
}

TEST(OEConfigFactoryDatabases, FirstMatchingRuleDecidesTheKind) {
    // "articles" wins over "images" in the same name; "images" over "media" and "texts".
    auto db = databasesOf({"articles_images.sqlite", "media_texts.sqlite", "texts_2.sqlite"});
    EXPECT_EQ(db->articlesDBName(), "articles_images.sqlite");
    EXPECT_EQ(db->imagesDBName(), "");
    EXPECT_EQ(db->mediaDBName(), "media_texts.sqlite");
    EXPECT_EQ(db->textDBName(), "texts_2.sqlite");
}

TEST(OEConfigFactoryDatabases, ArticlesIsTestedOnTheNameWithoutExtension) {
    // "images.articles.sqlite" has "articles" only in the name part that is not its extension,
    // so it counts; a folder or other file types never count.
    auto db = databasesOf({"images.articles.sqlite", "articles.db", "gallery_images.sqlite.bak", "notes.txt"});
    EXPECT_EQ(db->articlesDBName(), "images.articles.sqlite");
    EXPECT_EQ(db->imagesDBName(), "");
}

TEST(OEConfigFactoryDatabases, LaterFileOfAKindReplacesAnEarlierOne) {
    auto db = databasesOf({"images.sqlite", "images_2.sqlite", "unrelated.sqlite"});
    EXPECT_EQ(db->imagesDBName(), "images_2.sqlite");
    EXPECT_EQ(db->mediaDBName(), "");
}

TEST(OEConfigFactoryDatabases, EmptyBundleConfiguresNothing) {
    auto db = databasesOf({});
    EXPECT_EQ(db->imagesDBName(), "");
    EXPECT_EQ(db->mediaDBName(), "");
    EXPECT_EQ(db->textDBName(), "");
    EXPECT_EQ(db->articlesDBName(), "");
}

TEST(OEConfigFactoryTables, LayoutsHaveTheFixedNamesAndPositions) {
    auto factory = OEConfigFactory::initWithAppServerLikesIdentifer("", "", "", "");
    auto db = factory->makeDBConfigWith("i.sqlite", "m.sqlite", "t.sqlite", "a.sqlite");
    EXPECT_EQ(db->imagesDBName(), "i.sqlite");
    EXPECT_EQ(db->mediaDBName(), "m.sqlite");
    EXPECT_EQ(db->textDBName(), "t.sqlite");
    EXPECT_EQ(db->articlesDBName(), "a.sqlite");
    EXPECT_EQ(db->catTableConfig()->categoriesTable(), "bigCat");
    EXPECT_EQ(db->catTableConfig()->bigCatIndex()->index(), 0);
    EXPECT_EQ(db->catTableConfig()->bigCatName()->key(), "name");
    EXPECT_EQ(db->subcatTableConfig()->subcatTableName(), "subCat");
    EXPECT_EQ(db->subcatTableConfig()->subCatBigCat()->index(), 2);
    EXPECT_EQ(db->subcatTableConfig()->subCatBigCat()->key(), "bigCat");
    const auto& texts = db->textsTableConfig();
    EXPECT_EQ(texts->textsTableName(), "texts");
    EXPECT_EQ(texts->textsIndex()->index(), 0);
    EXPECT_EQ(texts->textsCat()->index(), 1);
    EXPECT_EQ(texts->textsCat()->key(), "cat");
    EXPECT_EQ(texts->textsWC()->index(), 2);
    EXPECT_EQ(texts->textsText()->index(), 3);
    EXPECT_EQ(texts->textsShort()->index(), 4);
    EXPECT_EQ(texts->textsShort()->key(), "short");
}

TEST(OEConfigFactoryURLs, FormatsCarryHostAndFolder) {
    auto urls = OEConfigFactory::initWithAppServerLikesIdentifer("", "", "F", "H")->makeURLFormatConfig();
    EXPECT_EQ(urls->download(), "H/data/F/%@");
    EXPECT_EQ(urls->images(), "H/pic/F/%@");
    EXPECT_EQ(urls->request(), "H/ostrelEngine/getFile.php?mail_to=%@&fname=%@&dir_name=F&show_fname=%@");
    EXPECT_EQ(urls->thumbs(), "H/data/F/thumbs/%@");
    EXPECT_EQ(urls->compositions(), "H/data/ostrelmedia/%@/%@");
    EXPECT_EQ(urls->likesRequest(), "H/likes/likes.php?app_id=%@");
}

TEST(OEConfigFactoryURLs, FilledFormatsGiveTheServerAddresses) {
    auto urls = OEConfigFactory::initWithAppServerLikesIdentifer("", "", "gallery", "http://127.0.0.1:8470")
                    ->makeURLFormatConfig();
    EXPECT_EQ(NSString::format(urls->images(), std::string("p0001.jpg")), "http://127.0.0.1:8470/pic/gallery/p0001.jpg");
    EXPECT_EQ(NSString::format(urls->compositions(), std::string("m4a"), std::string("bach/air.m4a")),
              "http://127.0.0.1:8470/data/ostrelmedia/m4a/bach/air.m4a");
}

TEST(OEConfigFactoryURLs, PercentSignsInHostOrFolderStayLiteral) {
    // A "%" from Info.plist must not become a conversion when the format is filled later.
    auto urls = OEConfigFactory::initWithAppServerLikesIdentifer("", "", "my%20folder", "http://h%d")->makeURLFormatConfig();
    EXPECT_EQ(NSString::format(urls->images(), std::string("x.jpg")), "http://h%d/pic/my%20folder/x.jpg");
    EXPECT_EQ(NSString::format(urls->request(), std::string("a@b.c"), std::string("x.jpg"), std::string("A - B")),
              "http://h%d/ostrelEngine/getFile.php?mail_to=a@b.c&fname=x.jpg&dir_name=my%20folder&show_fname=A - B");
}

TEST(OEConfigFactoryParts, ProductValues) {
    TestBundle bundle;
    bundle.writeInfoPlist(TestBundle::engineDictionary("http://127.0.0.1:9", "gallery"));
    auto config = OEConfigFactory::defaultFactory()->makeConfig();
    EXPECT_EQ(config->app()->likesIdentifier(), "likes_demo");
    EXPECT_EQ(config->app()->famousIdentifier(), "famous_demo");
    EXPECT_EQ(config->app()->newsUrl(), "http://127.0.0.1:9/newappstest.plist");
    EXPECT_EQ(config->app()->newsCheckStartCount(), 12);
    EXPECT_EQ(config->app()->articlesStyle(), 2u);
    EXPECT_EQ(config->images()->imageStorageType(), 3);
    EXPECT_TRUE(config->images()->onlyEnglishLocale());
    ASSERT_EQ(config->images()->imagesCategories().size(), 3u);
    EXPECT_EQ(config->images()->imagesCategories()[0]->identifer(), "subCat");
    EXPECT_EQ(config->images()->imagesCategories()[2]->identifer(), "author");
    EXPECT_EQ(config->locale()->supportedLanguages().size(), 11u);
    EXPECT_EQ(config->locale()->defaultLanguage(), "en");
    EXPECT_EQ(config->locale()->exceptions(), std::set<std::string>{"ru"});
    EXPECT_EQ(config->media()->mediaFormat(), std::optional<std::string>("m4a"));
    EXPECT_EQ(config->text()->defFontSize(), 12);
    EXPECT_EQ(config->text()->textDefFontSize(), 16);
    EXPECT_EQ(config->color()->settingsColor(), OEColorConfig::Color::black());
    EXPECT_EQ(config->urlFormat()->thumbs(), "http://127.0.0.1:9/data/gallery/thumbs/%@");
}

TEST(OEConfigFactoryParts, TheMakersServicesNameNoMachineUntilADeploymentSetsThem) {
    TestBundle bundle;
    bundle.writeInfoPlist(TestBundle::engineDictionary("http://127.0.0.1:9", "gallery"));
    auto shipped = OEConfigFactory::defaultFactory()->makeConfig()->app();
    for (const std::string& address : {shipped->famousServer(), shipped->webSite(), shipped->documentHost()})
        EXPECT_NE(address.find(".invalid"), std::string::npos) << address;
    auto defaults = NSUserDefaults::standardUserDefaults();
    (void)defaults->setObject(Value("http://127.0.0.1:8"), "OEFamousServer");
    (void)defaults->setObject(Value("http://127.0.0.1:7"), "OEWebSite");
    (void)defaults->setObject(Value("127.0.0.1:6"), "OEDocumentHost");
    auto deployed = OEConfigFactory::defaultFactory()->makeConfig()->app();
    EXPECT_EQ(deployed->famousServer(), "http://127.0.0.1:8");
    EXPECT_EQ(deployed->webSite(), "http://127.0.0.1:7");
    EXPECT_EQ(deployed->documentHost(), "127.0.0.1:6");
    // An empty value is no address: the shipped one stays.
    (void)defaults->setObject(Value(""), "OEWebSite");
    EXPECT_EQ(OEConfigFactory::defaultFactory()->makeConfig()->app()->webSite(), OEAppConfig::kDefaultWebSite);
    for (const char* key : {"OEFamousServer", "OEWebSite", "OEDocumentHost"}) defaults->removeObjectForKey(key);
}

TEST(OEConfigFactoryParts, MediaFormatNamesOnlyTheKnownTypes) {
    EXPECT_EQ(OEMediaConfig::initWithMediaFormat(1)->mediaFormat(), std::optional<std::string>("mp3"));
    EXPECT_EQ(OEMediaConfig::initWithMediaFormat(2)->mediaFormat(), std::optional<std::string>("loseless"));
    EXPECT_FALSE(OEMediaConfig::initWithMediaFormat(3)->mediaFormat().has_value());
    EXPECT_FALSE(OEMediaConfig::initWithMediaFormat(-1)->mediaFormat().has_value());
}

TEST(OEConfigFactoryParts, GroupingTitlesComeFromTheCoreTable) {
    TestBundle bundle;
    bundle.writeInfoPlist("<key>CFBundleDevelopmentRegion</key><string>en</string>");
    bundle.write("en.lproj/Core.strings", "\"By Janre\" = \"By Genre\";\n\"By Name\" = \"By Painter\";\n");
    NSLocale::setPreferredLanguages({"en"});
    auto images = OEConfigFactory::initWithAppServerLikesIdentifer("", "", "", "")->makeImageConfig();
    ASSERT_EQ(images->imagesCategories().size(), 3u);
    EXPECT_EQ(images->imagesCategories()[0]->title(), "By Century");  // no translation: the key itself
    EXPECT_EQ(images->imagesCategories()[1]->title(), "By Genre");
    EXPECT_EQ(images->imagesCategories()[2]->title(), "By Painter");
    NSLocale::resetPreferredLanguages();
}

TEST(OEConfigFactoryParts, GroupingsWithUnsafeIdentifiersAreLeftOut) {
    auto factory = OEConfigFactory::initWithAppServerLikesIdentifer("", "", "", "");
    testing::internal::CaptureStderr();
    auto images = factory->makeImageConfigWith({OEImageCategory::gategoryWithIdentifer("subCat", "A"),
                                                OEImageCategory::gategoryWithIdentifer("subCat; drop table images", "B"),
                                                OEImageCategory::gategoryWithIdentifer("author", "C")});
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(images->imagesCategories().size(), 2u);
    EXPECT_EQ(images->imagesCategories()[1]->identifer(), "author");
    EXPECT_NE(log.find("subCat; drop table images"), std::string::npos);
}

TEST(AppInfoValues, ReadFromInfoPlistAndEngineDictionary) {
    TestBundle bundle;
    bundle.writeInfoPlist("<key>CFBundleIdentifier</key><string>com.example.gallery</string>"
                          "<key>CFBundleDisplayName</key><string>Gallery</string>"
                          "<key>CFBundleShortVersionString</key><string>3.2</string>"
                          "<key>CFBundleVersion</key><string>320</string>"
                          "<key>AppId</key><integer>1047</integer>" +
                          TestBundle::engineDictionary("http://127.0.0.1:8470//", "gallery"));
    EXPECT_EQ(AppInfo::bundleId(), "com.example.gallery");
    EXPECT_EQ(AppInfo::displayName(), "Gallery");
    EXPECT_EQ(AppInfo::appVersion(), "3.2");
    EXPECT_EQ(AppInfo::appBuild(), "320");
    EXPECT_EQ(AppInfo::appStoreId(), "1047");  // any kind of value, used as a string
    EXPECT_EQ(AppInfo::appServerHost(), "http://127.0.0.1:8470");
    EXPECT_EQ(AppInfo::appServerFolder(), "gallery");
    EXPECT_EQ(AppInfo::articlesStyle(), 2u);
    EXPECT_EQ(AppInfo::appInfoString(), "Gallery (version 3.2(320), iPhone 15.0)");
}

TEST(AppInfoValues, IdiomIsTheDevicesAndThePadSaysSoInTheInformationString) {
    TestBundle bundle;
    bundle.writeInfoPlist("<key>CFBundleDisplayName</key><string>Gallery</string>"
                          "<key>CFBundleShortVersionString</key><string>3.2</string>"
                          "<key>CFBundleVersion</key><string>320</string>");
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    EXPECT_EQ(AppInfo::idiom(), "iPad");
    EXPECT_EQ(AppInfo::appInfoString(), "Gallery (version 3.2(320), iPad 15.0)");
    // A device that cannot tell its idiom counts as a phone.
    UIDevice::currentDevice()->setCanReportUserInterfaceIdiom(false);
    EXPECT_EQ(AppInfo::idiom(), "iPhone");
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
    EXPECT_EQ(AppInfo::idiom(), "iPhone");
}

TEST(AppInfoDefaults, MissingEngineDictionaryGivesEmptyValuesAndOneSentence) {
    TestBundle bundle;
    bundle.writeInfoPlist("<key>CFBundleIdentifier</key><string>com.example.noengine</string>");
    testing::internal::CaptureStderr();
    auto config = OEConfigFactory::defaultFactory()->makeConfig();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(config->app()->likesIdentifier(), "");
    EXPECT_EQ(config->app()->articlesStyle(), 0u);
    EXPECT_EQ(config->urlFormat()->images(), "/pic//%@");
    EXPECT_NE(log.find("has no \"OstrelEngine\" dictionary"), std::string::npos);
    EXPECT_NE(log.find("Articles style not defined. Add OEArticlesStyle key to OstrelEngine in Info.plist or there "
                       "will be no section with articles. You can ignore this warning."),
              std::string::npos);
    // The explanation is given once per bundle, not at every read.
    testing::internal::CaptureStderr();
    AppInfo::appServerHost();
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("OstrelEngine\" dictionary"), std::string::npos);
}

TEST(AppInfoDefaults, MalformedInfoPlistGivesTheDefaultsAndSaysSo) {
    TestBundle bundle;
    bundle.write("Info.plist", "<?xml version=\"1.0\"?><plist><dict><key>OstrelEngine</key><dict><key>");
    bundle.write("images.sqlite", "");
    testing::internal::CaptureStderr();
    auto config = OEConfigFactory::defaultFactory()->makeConfig();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("could not be read; the engine runs with its default configuration"), std::string::npos);
    EXPECT_EQ(AppInfo::bundleId(), "");
    EXPECT_EQ(config->app()->newsUrl(), "/newappstest.plist");
    // The rest of the tree is whole: databases are still found, languages and sizes set.
    EXPECT_EQ(config->database()->imagesDBName(), "images.sqlite");
    EXPECT_EQ(config->locale()->defaultLanguage(), "en");
    EXPECT_EQ(config->images()->imagesCategories().size(), 3u);
}

TEST(AppInfoDefaults, MissingInfoPlistSaysSo) {
    TestBundle bundle;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(AppInfo::ostrelEngineInfo().empty());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("has no Info.plist"), std::string::npos);
    EXPECT_EQ(AppInfo::appStoreId(), "");
}
