// Screen helpers: alerts, bar buttons, titles, the top-most controller, links and the menu button.
#include "uikit/UIViewControllerOpenAdUrl.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OESideMenuContainerViewController.h"
#include "uikit/Reachability.h"
#include "uikit/UIAlertControllerFactory.h"
#include "uikit/UIBadgeBarButtonItem.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIButtonCommon.h"
#include "uikit/UIViewToast.h"

namespace {
void present(const std::shared_ptr<UIViewController>& controller, const std::shared_ptr<UIViewController>& alert) {
    if (controller) controller->presentViewController(alert, true, nullptr);
}

Mutex providerMutex;

std::function<long()>& provider() REQUIRES(providerMutex) {
    static std::function<long()> p;
    return p;
}

std::shared_ptr<UIBadgeBarButtonItem> menuButton(const std::shared_ptr<UIViewController>& controller) {
    return std::dynamic_pointer_cast<UIBadgeBarButtonItem>(controller->navigationItem()->leftBarButtonItem());
}
}  // namespace

// --- Alerts -----------------------------------------------------------------------------------

void showUndefinedErrorAlert(const std::shared_ptr<UIViewController>& controller) {
    present(controller, UIAlertControllerFactory::undefinedErrorAlert());
}

void showErrorAlertWithMessage(const std::shared_ptr<UIViewController>& controller, const std::string& message) {
    present(controller, UIAlertControllerFactory::errorAlertWithMessage(message));
}

void showWarningAlertWithMessage(const std::shared_ptr<UIViewController>& controller, const std::string& message) {
    present(controller, UIAlertControllerFactory::warningAlertMessage(message));
}

void showNotificationAlertWithWithTitle(const std::shared_ptr<UIViewController>& controller, const std::string& title,
                                        const std::string& message) {
    present(controller, UIAlertControllerFactory::notificationAlerWithTitle(title, message));
}

void showNoConnectionAllert(const std::shared_ptr<UIViewController>& controller) {
    showNotificationAlertWithWithTitle(controller, OECoreString("No Internet"),
                                       OECoreString("Check your internetsettings"));
}

void showAskAlertWithMessage(const std::shared_ptr<UIViewController>& controller, const std::string& message,
                             const std::shared_ptr<UIAlertAction>& action) {
    present(controller, UIAlertControllerFactory::askAlertWithMessage(message, action));
}

void showAskAlertWithMessage(const std::shared_ptr<UIViewController>& controller, const std::string& message,
                             std::function<void()> handler) {
    present(controller, UIAlertControllerFactory::askAlertWithMessage(message, std::move(handler)));
}

void showAskAlertWithTitle(const std::shared_ptr<UIViewController>& controller, const std::string& title,
                           const std::string& message, const std::shared_ptr<UIAlertAction>& action) {
    present(controller, UIAlertControllerFactory::askAlertWithTitle(title, message, action));
}

void showAskAlertWithTitle(const std::shared_ptr<UIViewController>& controller, const std::string& title,
                           const std::string& message, std::function<void()> handler) {
    present(controller, UIAlertControllerFactory::askAlertWithTitle(title, message, std::move(handler)));
}

// --- Bar buttons --------------------------------------------------------------------------------

std::shared_ptr<UIBarButtonItem> makeDoneButton(const std::shared_ptr<UIViewController>& controller, UIAction action) {
    return UIBarButtonItemCommon::makeDoneButtonWithTarget(controller, std::move(action));
}

std::shared_ptr<UIBarButtonItem> makeCancelButton(const std::shared_ptr<UIViewController>& controller, UIAction action) {
    return UIBarButtonItemCommon::makeSystemButton(UIBarButtonSystemItemCancel, controller, std::move(action));
}

std::shared_ptr<UIBarButtonItem> makeCloseButtonWithTitle(const std::shared_ptr<UIViewController>& controller,
                                                          const std::string& title, UIAction action) {
    return UIBarButtonItemCommon::makeDoneButtonWithTitle(title, controller, std::move(action));
}

std::shared_ptr<UIBarButtonItem> makeDoneButtonWithTitle(const std::shared_ptr<UIViewController>& controller,
                                                         const std::string& title, UIAction action) {
    return UIBarButtonItemCommon::makeDoneButtonWithTitle(title, controller, std::move(action));
}

std::shared_ptr<UIBarButtonItem> makePlainButtonWithTitle(const std::shared_ptr<UIViewController>& controller,
                                                          const std::string& title, UIAction action) {
    return UIBarButtonItemCommon::makePlainButtonWithTitle(title, controller, std::move(action));
}

std::shared_ptr<UIBarButtonItem> makePlainButtonWithImageName(const std::shared_ptr<UIViewController>& controller,
                                                              const std::string& imageName, UIAction action) {
    return UIBarButtonItemCommon::makePlainButtonWithImageName(imageName, controller, std::move(action));
}

std::shared_ptr<UIBarButtonItem> customBarButtonItemWithImageName(const std::shared_ptr<UIViewController>& controller,
                                                                  const std::string& imageName, UIAction action) {
    return UIBarButtonItemCommon::makeCustomButtonWithImage(imageName, controller, std::move(action));
}

// --- Other --------------------------------------------------------------------------------------

std::shared_ptr<UIViewController> topController(const std::shared_ptr<UIViewController>& controller) {
    auto top = controller;
    while (top && top->presentedViewController()) top = top->presentedViewController();
    return top;
}

std::shared_ptr<UIActivityIndicatorView> showActivityIndicator(const std::shared_ptr<UIViewController>& controller) {
    return showGrayActivityIndicator(controller->view(), true);
}

void setMultilineTitle(const std::shared_ptr<UIViewController>& controller) {
    auto item = controller->navigationItem();
    std::string text = item->title();
    if (text.empty()) text = controller->title();
    CGRect bar{};
    if (auto navigation = controller->navigationController()) bar = navigation->navigationBar()->bounds();
    auto label = UILabel::initWithFrame(CGRectMake(0, 0, bar.size.width - 100, bar.size.height));
    label->setText(text);
    label->setNumberOfLines(2);
    label->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    label->setFont(UIFont::boldSystemFontOfSize(17));
    label->setMinimumScaleFactor(0.5);
    label->setAdjustsFontSizeToFitWidth(true);
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setBackgroundColor(UIColor::clearColor());
    item->setTitleView(label);
}

void updateMultilineTitle(const std::shared_ptr<UIViewController>& controller, const std::string& text) {
    if (auto label = std::dynamic_pointer_cast<UILabel>(controller->navigationItem()->titleView())) label->setText(text);
}

// --- Links -------------------------------------------------------------------------------------

void openURL(const std::shared_ptr<UIViewController>& controller, const std::string& url,
             std::function<void(bool success)> completion) {
    auto internet = Reachability::reachabilityForInternetConnection();
    if (!internet || internet->currentReachabilityStatus() == NotReachable) {
        showErrorAlertWithMessage(controller, OECoreString("Check your internetsettings"));
        return;
    }
    UIApplication::sharedApplication()->openURL(url, {}, [completion = std::move(completion)](bool success) {
        if (completion) completion(success);
    });
}

void openAdUrl(const std::shared_ptr<UIViewController>& controller, const std::string& url,
               std::function<void()> completion) {
    openURL(controller, url, [url, completion = std::move(completion)](bool success) {
        if (success) {
            auto defaults = NSUserDefaults::standardUserDefaults();
            defaults->setBool(true, url);
            // A failed write is told by the defaults, which keep the value and write it with the next change.
            (void)defaults->synchronize();
        }
        if (completion) completion();
    });
}

bool isNeedsAdForUrl(const std::string& url) { return !NSUserDefaults::standardUserDefaults()->boolForKey(url); }

// --- The menu button ------------------------------------------------------------------------------

void sideMenu_addButton(const std::shared_ptr<UIViewController>& controller, const std::shared_ptr<UIColor>& badgeFill) {
    std::weak_ptr<UIViewController> weak = controller;
    auto button = UIButtonCommon::makeCustomButtonWithImage("menu", controller, [weak](const std::shared_ptr<NSObject>&) {
        if (auto c = weak.lock()) showLeft(c);
    });
    const long stored = NSUserDefaults::standardUserDefaults()->integerForKey(kBadgeViewValueKey);
    controller->navigationItem()->setLeftBarButtonItem(UIBadgeBarButtonItem::initWithCustomView(button, stored, badgeFill));

    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(
        controller,
        [weak](const NSNotification& note) {
            if (auto c = weak.lock()) newappsDetected(c, note);
        },
        NewAppsFoundMessage);
    center->addObserver(
        controller,
        [weak](const NSNotification& note) {
            if (auto c = weak.lock()) newappsReseted(c, note);
        },
        NewAppsResetMessage);
}

void showLeft(const std::shared_ptr<UIViewController>& controller) {
    auto container = menuContainerViewController(controller);
    if (!container) return;
    if (container->menuState() == OESideMenuStateClosed) {
        auto defaults = NSUserDefaults::standardUserDefaults();
        defaults->setInteger(0, kBadgeViewValueKey);
        // A failed write is told by the defaults, which keep the value and write it with the next change.
        (void)defaults->synchronize();
        if (auto button = menuButton(controller)) button->setNumber(0);
        container->setMenuState(OESideMenuStateLeftMenuOpen);
    } else {
        container->setMenuState(OESideMenuStateClosed);
    }
}

void newappsDetected(const std::shared_ptr<UIViewController>& controller, const NSNotification&) {
    std::function<long()> count;
    {
        MutexLock lock(providerMutex);
        count = provider();
    }
    if (!count) return;
    auto defaults = NSUserDefaults::standardUserDefaults();
    const long last = defaults->integerForKey(kBadgeViewLastValueKey);
    const long found = count();
    if (last < found) {
        defaults->setInteger(found, kBadgeViewValueKey);
        defaults->setInteger(found, kBadgeViewLastValueKey);
        // A failed write is told by the defaults, which keep the value and write it with the next change.
        (void)defaults->synchronize();
    } else if (found <= 0 || defaults->integerForKey(kBadgeViewValueKey) != found) {
        return;
    }
    // Every screen hears the message; the first one records the count as seen, and the others
    // still show it while it waits to be seen (the stored count is cleared when the menu opens).
    if (auto button = menuButton(controller)) button->setNumber(found);
}

void newappsReseted(const std::shared_ptr<UIViewController>&, const NSNotification&) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setInteger(0, kBadgeViewLastValueKey);
    // A failed write is told by the defaults, which keep the value and write it with the next change.
    (void)defaults->synchronize();
}

void setNewAppsCountProvider(std::function<long()> provider_) {
    MutexLock lock(providerMutex);
    provider() = std::move(provider_);
}

bool hasNewAppsCountProvider() {
    MutexLock lock(providerMutex);
    return static_cast<bool>(provider());
}
