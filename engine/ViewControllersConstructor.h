// Builds the application's top-level screens in the wrappers the device needs (a navigation
// controller; on a pad also a split controller) and presents screens modally: a stateless
// factory of class operations over the process's engine.
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
    // Each operation reaches the process's engine (OECore::instance()). A screen asked for
    // before the engine has started, or when there is none, is empty (none is shown), with a
    // sentence; asking makes no engine.

    // The engine's side-menu container.
    static std::shared_ptr<UIViewController> menuController();
    // The key window's root view controller.
    static std::shared_ptr<UIViewController> rootNavigationController();

    // The category browser over the whole catalogue, wrapped for the device; empty when dbController is.
    [[nodiscard]] static std::shared_ptr<UIViewController> constructGalleryViewController();
    // The category browser (pad or phone variant) over the images database, with its search, in
    // the engine's context.
    [[nodiscard]] static std::shared_ptr<UIViewController> dbController();

    // A new thumbnail screen over the source's pictures of the subcategory, filtering offered
    // or not, in a new navigation controller.
    [[nodiscard]] static std::shared_ptr<UIViewController> thumbnailViewControllerForSource(
        const std::shared_ptr<DataSource>& source, const std::shared_ptr<dataSubCat>& subCat, bool allowFilter);

    // The player screen for the device (the pad's for every idiom but the phone's, the phone's
    // where the device cannot tell) over the engine's player controller, the engine as its
    // delegate and its content loaded, kept as the engine's player screen, in a new navigation
    // controller; empty, with a sentence, without a player.
    [[nodiscard]] static std::shared_ptr<UIViewController> constructMediaPLayerController();

    // The famous-paintings posts (a grouped list), the articles of the current language over the
    // articles database, and the texts browser (phone or pad variant), each wrapped for the
    // device.
    [[nodiscard]] static std::shared_ptr<UIViewController> constructFamousController();
    [[nodiscard]] static std::shared_ptr<UIViewController> constructArticlesController();
    [[nodiscard]] static std::shared_ptr<UIViewController> constructTextsController();

    // Presents the settings screen in a navigation controller.
    static void showSettings();
    // Presents the in-app browser on the address in a navigation controller.
    static void showBrowser(const std::string& url);

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
    // The process's engine once it has started; else empty, with `sentence` noted.
    static std::shared_ptr<OECore> startedCore(const char* sentence);
};
