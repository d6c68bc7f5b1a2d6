// What every screen builds through its controller: alerts presented from it, bar buttons with
// it as target, the two-line title, the top-most presented controller, links opened when the
// internet is reachable, and the menu button with its new-applications badge kept in the user
// defaults.
#pragma once

#include "platform/foundation/NSNotification.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIAlertAction.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIViewController.h"

#include <functional>
#include <memory>
#include <string>

// Posted by the new-applications checker when it found new ones, and when it was reset.
inline const std::string NewAppsFoundMessage = "NewAppsFoundMessage";
inline const std::string NewAppsResetMessage = "NewAppsResetMessage";
// User-defaults keys of the menu button's badge.
inline const std::string kBadgeViewValueKey = "kBadgeViewValueKey";
inline const std::string kBadgeViewLastValueKey = "kBadgeViewLastValueKey";

// --- Alerts, presented from `controller`, animated -------------------------------------------
void showUndefinedErrorAlert(const std::shared_ptr<UIViewController>& controller);
void showErrorAlertWithMessage(const std::shared_ptr<UIViewController>& controller, const std::string& message);
void showWarningAlertWithMessage(const std::shared_ptr<UIViewController>& controller, const std::string& message);
void showNotificationAlertWithWithTitle(const std::shared_ptr<UIViewController>& controller, const std::string& title,
                                        const std::string& message);
// "No Internet" / "Check your internetsettings".
void showNoConnectionAllert(const std::shared_ptr<UIViewController>& controller);
// "Attention", the action, "Cancel".
void showAskAlertWithMessage(const std::shared_ptr<UIViewController>& controller, const std::string& message,
                             const std::shared_ptr<UIAlertAction>& action);
void showAskAlertWithMessage(const std::shared_ptr<UIViewController>& controller, const std::string& message,
                             std::function<void()> handler);
void showAskAlertWithTitle(const std::shared_ptr<UIViewController>& controller, const std::string& title,
                           const std::string& message, const std::shared_ptr<UIAlertAction>& action);
void showAskAlertWithTitle(const std::shared_ptr<UIViewController>& controller, const std::string& title,
                           const std::string& message, std::function<void()> handler);

// --- Bar buttons with the controller as target ---------------------------------------------
std::shared_ptr<UIBarButtonItem> makeDoneButton(const std::shared_ptr<UIViewController>& controller, UIAction action);
std::shared_ptr<UIBarButtonItem> makeCancelButton(const std::shared_ptr<UIViewController>& controller, UIAction action);
std::shared_ptr<UIBarButtonItem> makeCloseButtonWithTitle(const std::shared_ptr<UIViewController>& controller,
                                                          const std::string& title, UIAction action);
std::shared_ptr<UIBarButtonItem> makeDoneButtonWithTitle(const std::shared_ptr<UIViewController>& controller,
                                                         const std::string& title, UIAction action);
std::shared_ptr<UIBarButtonItem> makePlainButtonWithTitle(const std::shared_ptr<UIViewController>& controller,
                                                          const std::string& title, UIAction action);
std::shared_ptr<UIBarButtonItem> makePlainButtonWithImageName(const std::shared_ptr<UIViewController>& controller,
                                                              const std::string& imageName, UIAction action);
std::shared_ptr<UIBarButtonItem> customBarButtonItemWithImageName(const std::shared_ptr<UIViewController>& controller,
                                                                  const std::string& imageName, UIAction action);

// --- Other -------------------------------------------------------------------------------------
// Follows the presented controllers from `controller`; the last one (itself when it presents
// nothing).
std::shared_ptr<UIViewController> topController(const std::shared_ptr<UIViewController>& controller);
// The gray spinner centred on the controller's view, animating.
std::shared_ptr<UIActivityIndicatorView> showActivityIndicator(const std::shared_ptr<UIViewController>& controller);
// A bold, two-line, shrink-to-fit title view over the navigation item's title (else the
// controller's).
void setMultilineTitle(const std::shared_ptr<UIViewController>& controller);
// New text for that title view.
void updateMultilineTitle(const std::shared_ptr<UIViewController>& controller, const std::string& text);

// --- Links ------------------------------------------------------------------------------------
// With the internet reachable, the platform opens the URL (no options) and the completion
// hears whether it did; without, the "Error" alert with "Check your internetsettings" shows
// over the controller and the completion is not called.
void openURL(const std::shared_ptr<UIViewController>& controller, const std::string& url,
             std::function<void(bool success)> completion);
// openURL; once opened, the URL string is stored as a promotion seen (YES under the string
// itself); then, opened or not, the completion runs. Not called without the internet.
void openAdUrl(const std::shared_ptr<UIViewController>& controller, const std::string& url,
               std::function<void()> completion);
// NO once the promotion URL was opened, YES before.
bool isNeedsAdForUrl(const std::string& url);

// --- The menu button --------------------------------------------------------------------------
// The left bar button: the "menu" image with the stored badge count, the badge filled with
// `badgeFill`; follows the checker's found and reset messages for as long as the controller lives.
void sideMenu_addButton(const std::shared_ptr<UIViewController>& controller, const std::shared_ptr<UIColor>& badgeFill);
// Opens the side menu (clearing the stored count and the badge) when it is closed, else
// closes it.
void showLeft(const std::shared_ptr<UIViewController>& controller);
// Shows the checker's count when it is above the last one seen.
void newappsDetected(const std::shared_ptr<UIViewController>& controller, const NSNotification& notification);
// Forgets the last count seen, so the next detection shows again.
void newappsReseted(const std::shared_ptr<UIViewController>& controller, const NSNotification& notification);
// The new-applications checker installs its count here; with none installed a found message
// changes nothing. An empty function removes it.
void setNewAppsCountProvider(std::function<long()> provider);
bool hasNewAppsCountProvider();

