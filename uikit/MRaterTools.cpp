// The rating prompt's controller lookup.
#include "uikit/MRaterTools.h"

#include "platform/ui/UIApplication.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<UIViewController> MRaterTools::getRootController() {
    auto application = UIApplication::sharedApplication();
    if (!application) return nullptr;
    auto window = application->keyWindow();
    if (!window || window->windowLevel() != UIWindowLevelNormal) {
        window.reset();
        for (const auto& candidate : application->windows()) {
            if (candidate && candidate->windowLevel() == UIWindowLevelNormal) {
                window = candidate;
                break;
            }
        }
    }
    if (!window) return nullptr;
    for (const auto& subview : window->subviews()) {
        if (auto controller = std::dynamic_pointer_cast<UIViewController>(subview->nextResponder()))
            return topMostViewController(controller);
    }
    return nullptr;
}

std::shared_ptr<UIViewController> MRaterTools::topMostViewController(const std::shared_ptr<UIViewController>& controller) {
    return topController(controller);
}
