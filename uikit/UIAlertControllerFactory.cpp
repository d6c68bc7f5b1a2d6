// The alert shapes shared by every screen.
#include "uikit/UIAlertControllerFactory.h"

#include "uikit/OECoreStrings.h"
#include "uikit/UIAlertActionDefault.h"

namespace UIAlertControllerFactory {

namespace {
std::shared_ptr<UIAlertController> alert(const std::string& title, const std::string& message) {
    return UIAlertController::alertControllerWithTitle(title, message, UIAlertControllerStyle::Alert);
}
}  // namespace

std::shared_ptr<UIAlertController> notificationAlerWithTitle(const std::string& title, const std::string& message) {
    auto a = alert(title, message);
    a->addAction(UIAlertActionDefault::okAction(nullptr));
    return a;
}

std::shared_ptr<UIAlertController> errorAlertWithMessage(const std::string& message) {
    return notificationAlerWithTitle(OECoreString("Error"), message);
}

std::shared_ptr<UIAlertController> undefinedErrorAlert() {
    return errorAlertWithMessage(OECoreString("Undefined error was occured"));
}

std::shared_ptr<UIAlertController> warningAlertMessage(const std::string& message) {
    return notificationAlerWithTitle(OECoreString("Attention"), message);
}

std::shared_ptr<UIAlertController> askAlertWithTitle(const std::string& title, const std::string& message,
                                                     const std::shared_ptr<UIAlertAction>& confirmAction) {
    auto a = alert(title, message);
    if (confirmAction) a->addAction(confirmAction);
    a->addAction(UIAlertActionDefault::cancel());
    return a;
}

std::shared_ptr<UIAlertController> askAlertWithTitle(const std::string& title, const std::string& message,
                                                     std::function<void()> confirmBlock) {
    return askAlertWithTitle(title, message, UIAlertActionDefault::okAction(std::move(confirmBlock)));
}

std::shared_ptr<UIAlertController> askAlertWithMessage(const std::string& message,
                                                       const std::shared_ptr<UIAlertAction>& confirmAction) {
    return askAlertWithTitle(OECoreString("Attention"), message, confirmAction);
}

std::shared_ptr<UIAlertController> askAlertWithMessage(const std::string& message, std::function<void()> confirmBlock) {
    return askAlertWithTitle(OECoreString("Attention"), message, std::move(confirmBlock));
}

}  // namespace UIAlertControllerFactory
