// The root of the configuration tree: the eight parts that adapt the engine to one product.
#pragma once

#include "config/OEAppConfig.h"
#include "config/OEColorConfig.h"
#include "config/OEDBConfig.h"
#include "config/OEImagesConfig.h"
#include "config/OELocaleConfig.h"
#include "config/OEMediaConfig.h"
#include "config/OETextsConfig.h"
#include "config/OEURLFormatConfig.h"

#include <memory>

class OEConfig : public NSObject {
public:
    static std::shared_ptr<OEConfig> initWithAppConfig(
        std::shared_ptr<OEAppConfig> appConfig, std::shared_ptr<OEColorConfig> colorConfig,
        std::shared_ptr<OEDBConfig> dbConfig, std::shared_ptr<OEImagesConfig> imagesConfig,
        std::shared_ptr<OELocaleConfig> localeConfig, std::shared_ptr<OEMediaConfig> mediaConfig,
        std::shared_ptr<OETextsConfig> textConfig, std::shared_ptr<OEURLFormatConfig> urlFormatConfig);

    const std::shared_ptr<OEAppConfig>& app() const { return app_; }
    void setApp(std::shared_ptr<OEAppConfig> v) { app_ = std::move(v); }
    const std::shared_ptr<OEColorConfig>& color() const { return color_; }
    void setColor(std::shared_ptr<OEColorConfig> v) { color_ = std::move(v); }
    const std::shared_ptr<OEDBConfig>& database() const { return database_; }
    void setDatabase(std::shared_ptr<OEDBConfig> v) { database_ = std::move(v); }
    const std::shared_ptr<OEImagesConfig>& images() const { return images_; }
    void setImages(std::shared_ptr<OEImagesConfig> v) { images_ = std::move(v); }
    const std::shared_ptr<OELocaleConfig>& locale() const { return locale_; }
    void setLocale(std::shared_ptr<OELocaleConfig> v) { locale_ = std::move(v); }
    const std::shared_ptr<OEMediaConfig>& media() const { return media_; }
    void setMedia(std::shared_ptr<OEMediaConfig> v) { media_ = std::move(v); }
    const std::shared_ptr<OETextsConfig>& text() const { return text_; }
    void setText(std::shared_ptr<OETextsConfig> v) { text_ = std::move(v); }
    const std::shared_ptr<OEURLFormatConfig>& urlFormat() const { return urlFormat_; }
    void setUrlFormat(std::shared_ptr<OEURLFormatConfig> v) { urlFormat_ = std::move(v); }

private:
    std::shared_ptr<OEAppConfig> app_;
    std::shared_ptr<OEColorConfig> color_;
    std::shared_ptr<OEDBConfig> database_;
    std::shared_ptr<OEImagesConfig> images_;
    std::shared_ptr<OELocaleConfig> locale_;
    std::shared_ptr<OEMediaConfig> media_;
    std::shared_ptr<OETextsConfig> text_;
    std::shared_ptr<OEURLFormatConfig> urlFormat_;
};
