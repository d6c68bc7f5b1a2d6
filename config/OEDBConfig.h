// The database part of the configuration: the content database file names found in the
// bundle ("" when a kind is absent), the name field key and the fixed table layouts.
#pragma once

#include "config/OEDBCatTableConfig.h"
#include "config/OEDBSubcatTableConfig.h"
#include "config/OEDBTextsTableConfig.h"

#include <memory>
#include <string>

class OEDBConfig : public NSObject {
public:
    static std::shared_ptr<OEDBConfig> initWithImagesDBname(
        const std::string& imagesDBName, const std::string& textDBName, const std::string& mediaDBName,
        const std::string& articlesDBName, const std::string& defaultDBName, const std::string& nameFieldKey,
        std::shared_ptr<OEDBCatTableConfig> catTableConfig, std::shared_ptr<OEDBSubcatTableConfig> subcatTableConfig,
        std::shared_ptr<OEDBTextsTableConfig> textsTableConfig);

    // File names with their ".sqlite" extension, e.g. "images.sqlite".
    const std::string& imagesDBName() const { return imagesDBName_; }
    void setImagesDBName(const std::string& name) { imagesDBName_ = name; }
    const std::string& textDBName() const { return textDBName_; }
    void setTextDBName(const std::string& name) { textDBName_ = name; }
    const std::string& mediaDBName() const { return mediaDBName_; }
    void setMediaDBName(const std::string& name) { mediaDBName_ = name; }
    const std::string& articlesDBName() const { return articlesDBName_; }
    void setArticlesDBName(const std::string& name) { articlesDBName_ = name; }
    const std::string& defaultDBName() const { return defaultDBName_; }
    void setDefaultDBName(const std::string& name) { defaultDBName_ = name; }
    const std::string& nameFieldKey() const { return nameFieldKey_; }
    void setNameFieldKey(const std::string& key) { nameFieldKey_ = key; }

    const std::shared_ptr<OEDBCatTableConfig>& catTableConfig() const { return catTableConfig_; }
    void setCatTableConfig(std::shared_ptr<OEDBCatTableConfig> c) { catTableConfig_ = std::move(c); }
    const std::shared_ptr<OEDBSubcatTableConfig>& subcatTableConfig() const { return subcatTableConfig_; }
    void setSubcatTableConfig(std::shared_ptr<OEDBSubcatTableConfig> c) { subcatTableConfig_ = std::move(c); }
    const std::shared_ptr<OEDBTextsTableConfig>& textsTableConfig() const { return textsTableConfig_; }
    void setTextsTableConfig(std::shared_ptr<OEDBTextsTableConfig> c) { textsTableConfig_ = std::move(c); }

private:
    std::string imagesDBName_;
    std::string textDBName_;
    std::string mediaDBName_;
    std::string articlesDBName_;
    std::string defaultDBName_;
    std::string nameFieldKey_;
    std::shared_ptr<OEDBCatTableConfig> catTableConfig_;
    std::shared_ptr<OEDBSubcatTableConfig> subcatTableConfig_;
    std::shared_ptr<OEDBTextsTableConfig> textsTableConfig_;
};
