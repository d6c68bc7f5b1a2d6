// The plain records of the configuration tree: their initialisers and descriptions.
#include "config/OEAppConfig.h"
#include "config/OEColorConfig.h"
#include "config/OEDBConfig.h"
#include "config/OEImagesConfig.h"
#include "config/OELocaleConfig.h"
#include "config/OEMediaConfig.h"
#include "config/OETextsConfig.h"
#include "config/OEURLFormatConfig.h"
#include "platform/foundation/NSString.h"

std::shared_ptr<OEDBTableColumn> OEDBTableColumn::columnWithIndex(std::int32_t index, const std::string& key) {
    return initWithIndex(index, key);
}

std::shared_ptr<OEDBTableColumn> OEDBTableColumn::initWithIndex(std::int32_t index, const std::string& key) {
    auto column = std::make_shared<OEDBTableColumn>();
    column->index_ = index;
    column->key_ = key;
    return column;
}

std::string OEDBTableColumn::description() const {
    return NSString::format("<OEDBTableColumn: %d \"%@\">", index_, key_);
}

std::shared_ptr<OEDBCatTableConfig> OEDBCatTableConfig::initWithCatTableName(
    const std::string& catTableName, std::shared_ptr<OEDBTableColumn> bigCatIndexColumn,
    std::shared_ptr<OEDBTableColumn> bigCatNameColumn) {
    auto c = std::make_shared<OEDBCatTableConfig>();
    c->categoriesTable_ = catTableName;
    c->bigCatIndex_ = std::move(bigCatIndexColumn);
    c->bigCatName_ = std::move(bigCatNameColumn);
    return c;
}

std::shared_ptr<OEDBSubcatTableConfig> OEDBSubcatTableConfig::initWithSubcatTableName(
    const std::string& subcatTableName, std::shared_ptr<OEDBTableColumn> subCatIndexColumn,
    std::shared_ptr<OEDBTableColumn> subCatNameColumn, std::shared_ptr<OEDBTableColumn> subCatBigCatColumn) {
    auto c = std::make_shared<OEDBSubcatTableConfig>();
    c->subcatTableName_ = subcatTableName;
    c->subCatIndex_ = std::move(subCatIndexColumn);
    c->subCatName_ = std::move(subCatNameColumn);
    c->subCatBigCat_ = std::move(subCatBigCatColumn);
    return c;
}

std::shared_ptr<OEDBTextsTableConfig> OEDBTextsTableConfig::initWithTextsTableName(
    const std::string& textsTableName, std::shared_ptr<OEDBTableColumn> textsIndexColumn,
    std::shared_ptr<OEDBTableColumn> textsTextColumn, std::shared_ptr<OEDBTableColumn> textsShortColumn,
    std::shared_ptr<OEDBTableColumn> textsWCColumn, std::shared_ptr<OEDBTableColumn> textsCatColumn) {
    auto c = std::make_shared<OEDBTextsTableConfig>();
    c->textsTableName_ = textsTableName;
    c->textsIndex_ = std::move(textsIndexColumn);
    c->textsText_ = std::move(textsTextColumn);
    c->textsShort_ = std::move(textsShortColumn);
    c->textsWC_ = std::move(textsWCColumn);
    c->textsCat_ = std::move(textsCatColumn);
    return c;
}

std::shared_ptr<OEDBConfig> OEDBConfig::initWithImagesDBname(
    const std::string& imagesDBName, const std::string& textDBName, const std::string& mediaDBName,
    const std::string& articlesDBName, const std::string& defaultDBName, const std::string& nameFieldKey,
    std::shared_ptr<OEDBCatTableConfig> catTableConfig, std::shared_ptr<OEDBSubcatTableConfig> subcatTableConfig,
    std::shared_ptr<OEDBTextsTableConfig> textsTableConfig) {
    auto c = std::make_shared<OEDBConfig>();
    c->imagesDBName_ = imagesDBName;
    c->textDBName_ = textDBName;
    c->mediaDBName_ = mediaDBName;
    c->articlesDBName_ = articlesDBName;
    c->defaultDBName_ = defaultDBName;
    c->nameFieldKey_ = nameFieldKey;
    c->catTableConfig_ = std::move(catTableConfig);
    c->subcatTableConfig_ = std::move(subcatTableConfig);
    c->textsTableConfig_ = std::move(textsTableConfig);
    return c;
}

std::shared_ptr<OEAppConfig> OEAppConfig::initWithLikesIdentifer(const std::string& likesIdentifier,
                                                                 const std::string& famousIdentifier,
                                                                 const std::string& newsUrl,
                                                                 std::int32_t newsCheckStartCount,
                                                                 std::uint64_t articlesStyle) {
    auto c = std::make_shared<OEAppConfig>();
    c->likesIdentifier_ = likesIdentifier;
    c->famousIdentifier_ = famousIdentifier;
    c->newsUrl_ = newsUrl;
    c->newsCheckStartCount_ = newsCheckStartCount;
    c->articlesStyle_ = articlesStyle;
    return c;
}

std::shared_ptr<OEColorConfig> OEColorConfig::initWithSettingsColor(Color settingsColor, Color settingsSegmentColor,
                                                                    Color backgroundColor) {
    auto c = std::make_shared<OEColorConfig>();
    c->settingsColor_ = settingsColor;
    c->settingsSegmentColor_ = settingsSegmentColor;
    c->backgroundColor_ = backgroundColor;
    return c;
}

std::shared_ptr<OEImageCategory> OEImageCategory::gategoryWithIdentifer(const std::string& identifer,
                                                                        const std::string& title) {
    return initWithIdentifer(identifer, title);
}

std::shared_ptr<OEImageCategory> OEImageCategory::initWithIdentifer(const std::string& identifer,
                                                                    const std::string& title) {
    auto c = std::make_shared<OEImageCategory>();
    c->identifer_ = identifer;
    c->title_ = title;
    return c;
}

std::string OEImageCategory::description() const {
    return NSString::format("<OEImageCategory: %@ \"%@\">", identifer_, title_);
}

std::shared_ptr<OEImagesConfig> OEImagesConfig::initWithImageStorageTypee(
    std::int32_t imageStorageType, bool onlyEnglishLocale, std::vector<std::shared_ptr<OEImageCategory>> imagesCategories) {
    auto c = std::make_shared<OEImagesConfig>();
    c->imageStorageType_ = imageStorageType;
    c->onlyEnglishLocale_ = onlyEnglishLocale;
    c->imagesCategories_ = std::move(imagesCategories);
    return c;
}

std::shared_ptr<OELocaleConfig> OELocaleConfig::initWithSupportedLanguages(std::set<std::string> supportedLanguages,
                                                                          const std::string& defaultLanguage,
                                                                          std::set<std::string> exceptions) {
    auto c = std::make_shared<OELocaleConfig>();
    c->supportedLanguages_ = std::move(supportedLanguages);
    c->defaultLanguage_ = defaultLanguage;
    c->exceptions_ = std::move(exceptions);
    return c;
}

std::shared_ptr<OEMediaConfig> OEMediaConfig::initWithMediaFormat(std::int64_t mediaFormatType) {
    auto c = std::make_shared<OEMediaConfig>();
    c->mediaFormatType_ = mediaFormatType;
    return c;
}

std::optional<std::string> OEMediaConfig::mediaFormat() const {
    switch (mediaFormatType_) {
        case 0: return "m4a";
        case 1: return "mp3";
        case 2: return "loseless";
        default: return std::nullopt;
    }
}

std::shared_ptr<OETextsConfig> OETextsConfig::initWithDefaultFontSize(std::int64_t defFontSize,
                                                                      std::int64_t textDefFontSize) {
    auto c = std::make_shared<OETextsConfig>();
    c->defFontSize_ = defFontSize;
    c->textDefFontSize_ = textDefFontSize;
    return c;
}

std::shared_ptr<OEURLFormatConfig> OEURLFormatConfig::initWithDownloadFormat(
    const std::string& downloadFormat, const std::string& imagesFormat, const std::string& requestFormat,
    const std::string& thumbsFormat, const std::string& compositionsFormat, const std::string& likesRequestFormat) {
    auto c = std::make_shared<OEURLFormatConfig>();
    c->download_ = downloadFormat;
    c->images_ = imagesFormat;
    c->request_ = requestFormat;
    c->thumbs_ = thumbsFormat;
    c->compositions_ = compositionsFormat;
    c->likesRequest_ = likesRequestFormat;
    return c;
}
