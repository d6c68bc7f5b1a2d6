// Builds the application's top-level screens in the wrappers the device needs (a navigation
// controller; on a pad also a split controller) and presents screens modally.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>
#include <vector>

class DataSource;
class OECore;
class UIViewController;
class dataSubCat;

class ViewControllersConstructor : public NSObject {
public:
    // Over the services of `core`, which owns its constructor and so is held weakly: once it is
    // gone every screen is empty, with a sentence.
    static std::shared_ptr<ViewControllersConstructor> initWithCore(std::weak_ptr<OECore> core);

    // The core's side-menu container.
    std::shared_ptr<UIViewController> menuController() const;
    // The key window's root view controller.
    static std::shared_ptr<UIViewController> rootNavigationController();

    // The category browser over the whole catalogue, wrapped for the device; empty when dbController is.
    [[nodiscard]] std::shared_ptr<UIViewController> constructGalleryViewController() const;
    // The category browser (pad or phone variant) over the images database, with its search, in
    // the core's context; empty, with a sentence, before the core has started.
    [[nodiscard]] std::shared_ptr<UIViewController> dbController() const;

    // A new thumbnail screen over the source's pictures of the subcategory, filtering offered
    // or not, in a new navigation controller; empty, with a sentence, before the core has started.
    [[nodiscard]] std::shared_ptr<UIViewController> thumbnailViewControllerForSource(
        const std::shared_ptr<DataSource>& source, const std::shared_ptr<dataSubCat>& subCat, bool allowFilter) const;

    // The player screen for the device (the pad's for every idiom but the phone's, the phone's
    // where the device cannot tell) over the core's player controller, the core as its
    // delegate and its content loaded, kept as the core's player screen, in a new navigation
    // controller; empty, with a sentence, without a player.
    [[nodiscard]] std::shared_ptr<UIViewController> constructMediaPLayerController() const;

    // The famous-paintings posts (a grouped list), the articles of the current language over the
    // articles database, and the texts browser (phone or pad variant), each wrapped for the
    // device; empty, with a sentence, before the core has started.
    [[nodiscard]] std::shared_ptr<UIViewController> constructFamousController() const;
    [[nodiscard]] std::shared_ptr<UIViewController> constructArticlesController() const;
    [[nodiscard]] std::shared_ptr<UIViewController> constructTextsController() const;

    // Presents the settings screen in a navigation controller; nothing, with a sentence, before
    // the core has started.
    void showSettings() const;
    // Presents the in-app browser on the address in a navigation controller; nothing, with a
    // sentence, before the core has started.
    void showBrowser(const std::string& url) const;

    // The controller in a new navigation controller; on a pad (idiom exactly 1) that in a
    // split controller as well.
    static std::shared_ptr<UIViewController> detailsControllerWithController(
        const std::shared_ptr<UIViewController>& controller);
    // A split controller with these screens, both columns shown.
    static std::shared_ptr<UIViewController> splitControllerWithControllers(
        const std::vector<std::shared_ptr<UIViewController>>& controllers);

    // Wraps the controller in a navigation controller and presents that modally.
    static void showController(const std::shared_ptr<UIViewController>& controller, bool fullscreen = false);
    // Presents the controller from the top-most screen, sliding up; full screen on request,
    // else in the platform's default style.
    static void showModalityController(const std::shared_ptr<UIViewController>& controller, bool fullscreen);

private:
    // The core once it has started; else empty, with `sentence` noted.
    std::shared_ptr<OECore> startedCore(const char* sentence) const;

    std::weak_ptr<OECore> core_;
};
