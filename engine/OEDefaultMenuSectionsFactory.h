// The product's main menu: which sections and rows show, from the engine configuration.
#pragma once

#include "engine/OEDefaultMenuItemFactory.h"
#include "engine/OEMainMenuSectionsFactory.h"
#include "config/OEConfig.h"
#include "gallery/DownloadsCounter.h"

#include <memory>
#include <string>
#include <vector>

class OEDefaultMenuSectionsFactory : public NSObject, public OEMainMenuSectionsFactory {
public:
    // The engine passes the application's display name as the main section's title.
    static std::shared_ptr<OEDefaultMenuSectionsFactory> initWithMainSectionTitle(const std::string& title,
                                                                                  std::shared_ptr<OEConfig> config);

    const std::string& title() const { return title_; }
    const std::shared_ptr<OEConfig>& config() const { return config_; }
    std::shared_ptr<OEDefaultMenuItemFactory> factory() const { return factory_; }
    void setFactory(std::shared_ptr<OEDefaultMenuItemFactory> factory) { factory_ = std::move(factory); }
    // The count of present pictures the download row asks; without one there is no such row.
    std::shared_ptr<DownloadsCounter> downloadsCounter() const { return downloadsCounter_; }
    void setDownloadsCounter(std::shared_ptr<DownloadsCounter> counter) { downloadsCounter_ = std::move(counter); }

    // The main section, always, even with no rows; then "Additional" when it has a row; then
    // the "Settings" and "More" sections.
    std::vector<std::shared_ptr<OEMenuSection>> makeItems() override;

    // Gallery with an images database, media library with a media database, famous paintings
    // with articles style 2, articles with style 1, texts with a texts database; each only when
    // its screen can be built.
    std::shared_ptr<OEMenuSection> mainSection() const;
    // "Download All Images" while a picture is missing and the list of pictures reads whole.
    std::shared_ptr<OEMenuSection> secondarySection() const;
    // "Settings" with its one row.
    std::shared_ptr<OEMenuSection> settingsSection() const;
    // "More": "Support" by mail, then the maker's more-applications page and web site in the
    // in-app browser.
    std::shared_ptr<OEMenuSection> supportSection() const;

private:
    std::string title_;
    std::shared_ptr<OEConfig> config_;
    std::shared_ptr<OEDefaultMenuItemFactory> factory_;
    std::shared_ptr<DownloadsCounter> downloadsCounter_;
};
