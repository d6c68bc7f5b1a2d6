// The configuration root.
#include "config/OEConfig.h"

std::shared_ptr<OEConfig> OEConfig::initWithAppConfig(
    std::shared_ptr<OEAppConfig> appConfig, std::shared_ptr<OEColorConfig> colorConfig,
    std::shared_ptr<OEDBConfig> dbConfig, std::shared_ptr<OEImagesConfig> imagesConfig,
    std::shared_ptr<OELocaleConfig> localeConfig, std::shared_ptr<OEMediaConfig> mediaConfig,
    std::shared_ptr<OETextsConfig> textConfig, std::shared_ptr<OEURLFormatConfig> urlFormatConfig) {
    auto c = std::make_shared<OEConfig>();
    c->app_ = std::move(appConfig);
    c->color_ = std::move(colorConfig);
    c->database_ = std::move(dbConfig);
    c->images_ = std::move(imagesConfig);
    c->locale_ = std::move(localeConfig);
    c->media_ = std::move(mediaConfig);
    c->text_ = std::move(textConfig);
    c->urlFormat_ = std::move(urlFormatConfig);
    return c;
}
