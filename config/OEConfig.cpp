// The configuration root and the process-wide current configuration.
#include "config/OEConfig.h"

#include "config/OEConfigFactory.h"

#include <mutex>

namespace {
std::mutex currentMutex;
std::shared_ptr<OEConfig> currentConfig;
}  // namespace

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

std::shared_ptr<OEConfig> OEConfig::current() {
    {
        std::lock_guard lock(currentMutex);
        if (currentConfig) return currentConfig;
    }
    // Built outside the lock: the factory reads the bundle, which may take a while, and two
    // racing first callers build equal trees, of which the first stored wins.
    auto built = OEConfigFactory::defaultFactory()->makeConfig();
    std::lock_guard lock(currentMutex);
    if (!currentConfig) currentConfig = std::move(built);
    return currentConfig;
}

void OEConfig::setCurrent(std::shared_ptr<OEConfig> config) {
    std::lock_guard lock(currentMutex);
    currentConfig = std::move(config);
}

std::shared_ptr<OEConfig> OEConfig::currentIfSet() {
    std::lock_guard lock(currentMutex);
    return currentConfig;
}
