// Makes the product's main-menu rows: localised title, bundle image and the action. A row
// whose screen this build cannot construct is not made (the maker answers empty).
#pragma once

#include "engine/OEMenuSectionItem.h"
#include "uikit/OECoreStrings.h"

#include <functional>
#include <map>
#include <memory>

class UIViewController;

// The screens a menu row can put into the centre of the side menu.
enum class OEMenuScreen { Gallery, MediaLibrary, Famous, Articles, Texts };

class OEDefaultMenuItemFactory : public NSObject {
public:
    using ScreenConstructor = std::function<std::shared_ptr<UIViewController>()>;

    // Builds the gallery, the music library, the famous paintings, the articles and the texts,
    // and shows the settings and the in-app browser, with the screen constructor's operations.
    static std::shared_ptr<OEDefaultMenuItemFactory> make();

    // Builds a new screen each time it is called; an empty one removes the screen.
    void setScreenConstructor(OEMenuScreen screen, ScreenConstructor constructor);
    bool canConstruct(OEMenuScreen screen) const;

    // "GalleryMenu" / "galleryengine", "MediaLibrary" / "music", "Famous" / "famous_paintings",
    // "Articles" / "famous_paintings": each puts a new screen into the centre. Empty when this
    // build cannot construct the screen; a screen that cannot be built when the row is chosen
    // (its database cannot be opened) is replaced by one with the row's title and the menu
    // button that says it cannot be opened (kUnavailableMessageKey), and so is a screen in the
    // centre as soon as a read of a database it shows meets damaged pages.
    std::shared_ptr<OEMenuSectionItem> makeGalleryItem() const;
    std::shared_ptr<OEMenuSectionItem> makeCompositionsItem() const;
    std::shared_ptr<OEMenuSectionItem> makeFamousItem() const;
    std::shared_ptr<OEMenuSectionItem> makeArticlesItem() const;
    // "TEXTS_TITLE" / "texts": the texts browser in the centre.
    std::shared_ptr<OEMenuSectionItem> makeTextsItem() const;
    // "Download All Images" / "download": asks, then downloads every missing picture.
    std::shared_ptr<OEMenuSectionItem> makeDownloadAllItem() const;
    // "Attention" with "Do you realy want to download all images?", "Download" and "Cancel";
    // confirming starts the download of all pictures of the images list over the engine's
    // context, its idle-timer manager and its count of present pictures.
    static void downloadAllActionFromController(const std::shared_ptr<UIViewController>& controller);
    // "Settings" / "settings": presents the settings screen.
    std::shared_ptr<OEMenuSectionItem> makeSettingsItem() const;
    // "Support" / "support": a mail to the maker's support address, the application's
    // information as the subject, over the menu.
    std::shared_ptr<OEMenuSectionItem> makeSupportItem() const;

    // A row that presents the in-app browser on `url`, then runs `afterClickAction` (when given)
    // and, when asked, reloads the menu. An empty badge means none.
    std::shared_ptr<OEMenuSectionItem> makeUrlItemWithTitle(const std::string& title, const std::string& imageName,
                                                            const std::string& url, const std::string& badge,
                                                            bool needsMenuReload,
                                                            std::function<void()> afterClickAction) const;
    // "More Apps" / "other_apps": the browser on the maker's more-applications page,
    // "<webSite>/more<language>.html". While the new-applications checker counts some, the count
    // is the row's badge, and choosing the row resets the checker and reloads the menu.
    std::shared_ptr<OEMenuSectionItem> makeOtherAppsItem(const std::string& webSite) const;
    // "Web site" / "website": the browser on the maker's web site.
    std::shared_ptr<OEMenuSectionItem> makeWebSiteItem(const std::string& webSite) const;
    // The format with the page language in its one "%@": "" for Russian, the language code for
    // English, "en" for any other language (and before the engine has its localisations).
    static std::string localizedUrlWithFormat(const std::string& format);

    // The sentence of the screen that stands for one that cannot be built, with the row's title.
    static constexpr const char* kUnavailableMessageKey = kOECannotBeOpenedKey;

private:
    std::shared_ptr<OEMenuSectionItem> makeCenterItem(OEMenuScreen screen, const std::string& titleKey,
                                                      const std::string& imageName) const;

    std::map<OEMenuScreen, ScreenConstructor> constructors_;
};
