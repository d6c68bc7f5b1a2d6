// This product's configuration values.
#include "config/OEConfigFactory.h"

#include "config/AppInfo.h"
#include "config/OESQLIdentifier.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"

#include <cstdio>

namespace {

std::string coreString(const char* key) {
    auto bundle = NSBundle::mainBundle();
    return bundle ? bundle->localizedStringForKey(key, "", "Core") : std::string(key);
}

// Host and folder end up inside format strings; a literal "%" must stay literal.
std::string escapedForFormat(const std::string& s) { return NSString::stringByReplacingOccurrencesOfString(s, "%", "%%"); }

}  // namespace

std::shared_ptr<OEConfigFactory> OEConfigFactory::defaultFactory() {
    return initWithAppServerLikesIdentifer(AppInfo::appServerLikesIdentifer(), AppInfo::appServerFamousIdentifer(),
                                           AppInfo::appServerFolder(), AppInfo::appServerHost());
}

std::shared_ptr<OEConfigFactory> OEConfigFactory::initWithAppServerLikesIdentifer(const std::string& likesIdentifer,
                                                                                  const std::string& famousIdentifer,
                                                                                  const std::string& serverFolder,
                                                                                  const std::string& host) {
    auto f = std::make_shared<OEConfigFactory>();
    f->likesIdentifer_ = likesIdentifer;
    f->famousIdentifer_ = famousIdentifer;
    f->folder_ = serverFolder;
    f->host_ = host;
    return f;
}

std::shared_ptr<OEConfig> OEConfigFactory::makeConfig() const {
    auto app = makeAppConfig();
    auto color = makeColorConfig();
    auto db = makeDBConfig();
    auto images = makeImageConfig();
    auto locale = makeLocaleConfig();
    auto media = makeMediaConfig();
    auto text = makeTextConfig();
    auto urls = makeURLFormatConfig();
    return OEConfig::initWithAppConfig(app, color, db, images, locale, media, text, urls);
}

std::shared_ptr<OEAppConfig> OEConfigFactory::makeAppConfig() const {
    const std::string newsUrl = host_ + "/newappstest.plist";
    auto app = makeAppConfigWithLikesIdentifer(likesIdentifer_, famousIdentifer_, newsUrl, AppInfo::articlesStyle());
    // The fixed services where a deployment (or a demo run) points them.
    auto defaults = NSUserDefaults::standardUserDefaults();
    auto configured = [&defaults](const char* key, const char* fallback) {
        const std::string value = defaults->stringForKey(key);
        return value.empty() ? std::string(fallback) : value;
    };
    app->setFamousServer(configured(OEAppConfig::kFamousServerKey, OEAppConfig::kDefaultFamousServer));
    app->setWebSite(configured(OEAppConfig::kWebSiteKey, OEAppConfig::kDefaultWebSite));
    app->setDocumentHost(configured(OEAppConfig::kDocumentHostKey, OEAppConfig::kDefaultDocumentHost));
    return app;
}

std::shared_ptr<OEAppConfig> OEConfigFactory::makeAppConfigWithLikesIdentifer(const std::string& likesIdentifer,
                                                                             const std::string& famousIdentifier,
                                                                             const std::string& newsUrl,
                                                                             std::uint64_t articlleStyle) const {
    return OEAppConfig::initWithLikesIdentifer(likesIdentifer, famousIdentifier, newsUrl, 12, articlleStyle);
}

std::shared_ptr<OEColorConfig> OEConfigFactory::makeColorConfig() const {
    return OEColorConfig::initWithSettingsColor(OEColorConfig::Color::black(), OEColorConfig::Color::darkGray(),
                                                OEColorConfig::Color::groupTableViewBackground());
}

std::shared_ptr<OEDBConfig> OEConfigFactory::makeDBConfig() const {
    std::string images, media, texts, articles;
    if (auto bundle = NSBundle::mainBundle()) {
        for (const std::string& path : bundle->pathsForResourcesOfType("sqlite", "")) {
            const std::string file = NSString::lastPathComponent(path);
            const std::string stem = NSString::stringByDeletingPathExtension(file);
            if (NSString::containsString(stem, "articles")) articles = file;
            else if (NSString::containsString(file, "images")) images = file;
            else if (NSString::containsString(file, "media")) media = file;
            else if (NSString::containsString(file, "texts")) texts = file;
        }
    }
    return makeDBConfigWith(images, media, texts, articles);
}

std::shared_ptr<OEDBConfig> OEConfigFactory::makeDBConfigWith(const std::string& imagesDbName,
                                                              const std::string& mediaDbName,
                                                              const std::string& textsDbName,
                                                              const std::string& articlesDbName) const {
    auto cat = makeCatTableConfig();
    auto subcat = makeSubcatTableConfig();
    auto texts = makeTextsTableConfig();
    return OEDBConfig::initWithImagesDBname(imagesDbName, textsDbName, mediaDbName, articlesDbName, "Gallery", "name",
                                            cat, subcat, texts);
}

std::shared_ptr<OEDBTableColumn> OEConfigFactory::indexColumn() const { return OEDBTableColumn::columnWithIndex(0, "index"); }

std::shared_ptr<OEDBTableColumn> OEConfigFactory::nameColumn() const { return OEDBTableColumn::columnWithIndex(1, "name"); }

std::shared_ptr<OEDBCatTableConfig> OEConfigFactory::makeCatTableConfig() const {
    return OEDBCatTableConfig::initWithCatTableName("bigCat", indexColumn(), nameColumn());
}

std::shared_ptr<OEDBSubcatTableConfig> OEConfigFactory::makeSubcatTableConfig() const {
    return OEDBSubcatTableConfig::initWithSubcatTableName("subCat", indexColumn(), nameColumn(),
                                                          OEDBTableColumn::columnWithIndex(2, "bigCat"));
}

std::shared_ptr<OEDBTextsTableConfig> OEConfigFactory::makeTextsTableConfig() const {
    return OEDBTextsTableConfig::initWithTextsTableName(
        "texts", indexColumn(), OEDBTableColumn::columnWithIndex(3, "text"), OEDBTableColumn::columnWithIndex(4, "short"),
        OEDBTableColumn::columnWithIndex(2, "wc"), OEDBTableColumn::columnWithIndex(1, "cat"));
}

std::shared_ptr<OEImagesConfig> OEConfigFactory::makeImageConfig() const {
    return makeImageConfigWith({
        OEImageCategory::gategoryWithIdentifer("subCat", coreString("By Century")),
        OEImageCategory::gategoryWithIdentifer("subCat2", coreString("By Janre")),
        OEImageCategory::gategoryWithIdentifer("author", coreString("By Name")),
    });
}

std::shared_ptr<OEImagesConfig> OEConfigFactory::makeImageConfigWith(
    const std::vector<std::shared_ptr<OEImageCategory>>& categories) const {
    std::vector<std::shared_ptr<OEImageCategory>> kept;
    for (const auto& category : categories) {
        if (!category) continue;
        if (!OESQLIdentifier::isPlain(category->identifer())) {
            Diagnostics::notef(
                "The picture grouping \"%s\" is left out: its identifier is not a plain table or column name.",
                category->identifer().c_str());
            continue;
        }
        kept.push_back(category);
    }
    return OEImagesConfig::initWithImageStorageTypee(3, true, std::move(kept));
}

std::shared_ptr<OELocaleConfig> OEConfigFactory::makeLocaleConfig() const {
    return OELocaleConfig::initWithSupportedLanguages({"ru", "en", "fr", "de", "it", "zh", "ja", "ko", "pt", "es", "tr"},
                                                      "en", {"ru"});
}

std::shared_ptr<OEMediaConfig> OEConfigFactory::makeMediaConfig() const { return OEMediaConfig::initWithMediaFormat(0); }

std::shared_ptr<OETextsConfig> OEConfigFactory::makeTextConfig() const { return OETextsConfig::initWithDefaultFontSize(12, 16); }

std::shared_ptr<OEURLFormatConfig> OEConfigFactory::makeURLFormatConfig() const {
    return makeURLFormatConfigWithHost(host_, folder_);
}

std::shared_ptr<OEURLFormatConfig> OEConfigFactory::makeURLFormatConfigWithHost(const std::string& host,
                                                                               const std::string& folder) const {
    const std::string h = escapedForFormat(host);
    const std::string f = escapedForFormat(folder);
    const std::string images = h + "/pic/" + f + "/%@";
    const std::string thumbs = h + "/data/" + f + "/thumbs/%@";
    const std::string request = h + "/ostrelEngine/getFile.php?mail_to=%@&fname=%@&dir_name=" + f + "&show_fname=%@";
    const std::string download = h + "/data/" + f + "/%@";
    const std::string compositions = h + "/data/ostrelmedia/%@/%@";
    const std::string likes = h + "/likes/likes.php?app_id=%@";
    return OEURLFormatConfig::initWithDownloadFormat(download, images, request, thumbs, compositions, likes);
}
