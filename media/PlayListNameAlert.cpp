// The question for a new playlist's name.
#include "media/PlayListNameAlert.h"

#include "platform/ui/UIAlertController.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIViewController.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIAlertActionDefault.h"

void PlayListNameAlert::present(const std::shared_ptr<UIViewController>& screen,
                                std::function<void(const std::string&)> named) {
    auto alert = UIAlertController::alertControllerWithTitle("", OECoreString("New Playlist"),
                                                             UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler([](const std::shared_ptr<UITextField>&) {});
    std::weak_ptr<UIViewController> weak = screen;
    std::weak_ptr<UIAlertController> weakAlert = alert;
    alert->addAction(UIAlertActionDefault::okAction([weak, weakAlert, named = std::move(named)] {
        auto owner = weak.lock();
        auto shown = weakAlert.lock();
        if (owner && shown && !shown->textFields().empty()) named(shown->textFields()[0]->text());
    }));
    alert->addAction(UIAlertActionDefault::cancel());
    screen->presentViewController(alert, true, nullptr);
}
