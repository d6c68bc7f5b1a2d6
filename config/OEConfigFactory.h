// Builds this product's configuration tree: server values from Info.plist, database names
// found among the bundle's SQLite files, fixed table layouts, languages, sizes and URL formats.
#pragma once

#include "config/OEConfig.h"

#include <memory>
#include <string>
#include <vector>

class OEConfigFactory : public NSObject {
public:
    // Over AppInfo's likes and famous identifiers, server folder and server host.
    static std::shared_ptr<OEConfigFactory> defaultFactory();
    static std::shared_ptr<OEConfigFactory> initWithAppServerLikesIdentifer(const std::string& likesIdentifer,
                                                                            const std::string& famousIdentifer,
                                                                            const std::string& serverFolder,
                                                                            const std::string& host);

    const std::string& likesIdentifer() const { return likesIdentifer_; }
    const std::string& famousIdentifer() const { return famousIdentifer_; }
    const std::string& folder() const { return folder_; }
    const std::string& host() const { return host_; }

    // The eight parts, made in the order app, color, database, images, locale, media, text, URL formats.
    std::shared_ptr<OEConfig> makeConfig() const;

    std::shared_ptr<OEAppConfig> makeAppConfig() const;
    std::shared_ptr<OEAppConfig> makeAppConfigWithLikesIdentifer(const std::string& likesIdentifer,
                                                                 const std::string& famousIdentifier,
                                                                 const std::string& newsUrl,
                                                                 std::uint64_t articlleStyle) const;
    std::shared_ptr<OEColorConfig> makeColorConfig() const;

    // Scans the main bundle's top-level "*.sqlite" resources, in listing order; per file the
    // first match of "articles" (on the name without extension), "images", "media", "texts"
    // decides its kind, and a later file of a kind replaces an earlier one.
    std::shared_ptr<OEDBConfig> makeDBConfig() const;
    std::shared_ptr<OEDBConfig> makeDBConfigWith(const std::string& imagesDbName, const std::string& mediaDbName,
                                                 const std::string& textsDbName,
                                                 const std::string& articlesDbName) const;
    std::shared_ptr<OEDBCatTableConfig> makeCatTableConfig() const;
    std::shared_ptr<OEDBSubcatTableConfig> makeSubcatTableConfig() const;
    std::shared_ptr<OEDBTextsTableConfig> makeTextsTableConfig() const;
    // (0, "index") and (1, "name").
    std::shared_ptr<OEDBTableColumn> indexColumn() const;
    std::shared_ptr<OEDBTableColumn> nameColumn() const;

    // "subCat" ("By Century"), "subCat2" ("By Janre"), "author" ("By Name"), titles from "Core".
    std::shared_ptr<OEImagesConfig> makeImageConfig() const;
    // Storage type 3, English-only search, the given groupings. A grouping whose identifier is
    // not a plain SQL identifier is left out with a logged sentence: identifiers end up in SQL.
    std::shared_ptr<OEImagesConfig> makeImageConfigWith(
        const std::vector<std::shared_ptr<OEImageCategory>>& categories) const;

    std::shared_ptr<OELocaleConfig> makeLocaleConfig() const;
    std::shared_ptr<OEMediaConfig> makeMediaConfig() const;
    std::shared_ptr<OETextsConfig> makeTextConfig() const;
    std::shared_ptr<OEURLFormatConfig> makeURLFormatConfig() const;
    // A "%" in the host or folder is doubled, so the formats stay safe to fill later.
    std::shared_ptr<OEURLFormatConfig> makeURLFormatConfigWithHost(const std::string& host,
                                                                   const std::string& folder) const;

private:
    std::string likesIdentifer_;
    std::string famousIdentifer_;
    std::string folder_;
    std::string host_;
};
