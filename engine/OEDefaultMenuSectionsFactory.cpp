// Composition of the product's main menu.
#include "engine/OEDefaultMenuSectionsFactory.h"

#include "uikit/OECoreStrings.h"

std::shared_ptr<OEDefaultMenuSectionsFactory> OEDefaultMenuSectionsFactory::initWithMainSectionTitle(
    const std::string& title, std::shared_ptr<OEConfig> config) {
    auto factory = std::make_shared<OEDefaultMenuSectionsFactory>();
    factory->title_ = title;
    factory->config_ = std::move(config);
    factory->factory_ = OEDefaultMenuItemFactory::make();
    return factory;
}

std::vector<std::shared_ptr<OEMenuSection>> OEDefaultMenuSectionsFactory::makeItems() {
    std::vector<std::shared_ptr<OEMenuSection>> sections{mainSection()};
    if (auto secondary = secondarySection(); !secondary->items().empty()) sections.push_back(std::move(secondary));
    sections.push_back(settingsSection());
    sections.push_back(supportSection());
    return sections;
}

std::shared_ptr<OEMenuSection> OEDefaultMenuSectionsFactory::supportSection() const {
    std::vector<std::shared_ptr<OEMenuSectionItem>> items;
    const std::string webSite =
        config_ && config_->app() ? config_->app()->webSite() : std::string(OEAppConfig::kDefaultWebSite);
    if (factory_) {
        items.push_back(factory_->makeSupportItem());
        items.push_back(factory_->makeOtherAppsItem(webSite));
        items.push_back(factory_->makeWebSiteItem(webSite));
    }
    return OEMenuSection::initWithTitle(OECoreString("More"), std::move(items));
}

std::shared_ptr<OEMenuSection> OEDefaultMenuSectionsFactory::settingsSection() const {
    std::vector<std::shared_ptr<OEMenuSectionItem>> items;
    if (factory_) items.push_back(factory_->makeSettingsItem());
    return OEMenuSection::initWithTitle(OECoreString("Settings"), std::move(items));
}

std::shared_ptr<OEMenuSection> OEDefaultMenuSectionsFactory::mainSection() const {
    std::vector<std::shared_ptr<OEMenuSectionItem>> items;
    auto add = [&items](std::shared_ptr<OEMenuSectionItem> item) {
        if (item) items.push_back(std::move(item));
    };
    const auto& database = config_ ? config_->database() : nullptr;
    const auto& app = config_ ? config_->app() : nullptr;
    if (factory_ && database && !database->imagesDBName().empty()) add(factory_->makeGalleryItem());
    if (factory_ && database && !database->mediaDBName().empty()) add(factory_->makeCompositionsItem());
    if (factory_ && app && app->articlesStyle() == 2) add(factory_->makeFamousItem());
    if (factory_ && app && app->articlesStyle() == 1) add(factory_->makeArticlesItem());
    if (factory_ && database && !database->textDBName().empty()) add(factory_->makeTextsItem());
    return OEMenuSection::initWithTitle(title_, std::move(items));
}

std::shared_ptr<OEMenuSection> OEDefaultMenuSectionsFactory::secondarySection() const {
    std::vector<std::shared_ptr<OEMenuSectionItem>> items;
    if (factory_ && downloadsCounter_ && downloadsCounter_->canDownloadMissing())
        if (auto item = factory_->makeDownloadAllItem()) items.push_back(std::move(item));
    return OEMenuSection::initWithTitle(OECoreString("Additional"), std::move(items));
}
