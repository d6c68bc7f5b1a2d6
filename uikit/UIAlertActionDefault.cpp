// "Ok" and "Cancel" actions.
#include "uikit/UIAlertActionDefault.h"

#include "uikit/OECoreStrings.h"

namespace UIAlertActionDefault {

std::shared_ptr<UIAlertAction> okAction(std::function<void()> closure) {
    UIAlertAction::Handler handler;
    if (closure) handler = [closure = std::move(closure)](const std::shared_ptr<UIAlertAction>&) { closure(); };
    return UIAlertAction::actionWithTitle(OECoreString("Ok"), UIAlertActionStyle::Default, std::move(handler));
}

std::shared_ptr<UIAlertAction> cancel() {
    return UIAlertAction::actionWithTitle(OECoreString("Cancel"), UIAlertActionStyle::Cancel, nullptr);
}

}  // namespace UIAlertActionDefault
