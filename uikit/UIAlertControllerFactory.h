// The application's alerts: alert style always, confirming action first and "Cancel" second,
// one "Ok" on information and error alerts; every text from the "Core" table.
#pragma once

#include "platform/ui/UIAlertController.h"

#include <functional>
#include <memory>
#include <string>

namespace UIAlertControllerFactory {
// "Error" with the message and "Ok".
std::shared_ptr<UIAlertController> errorAlertWithMessage(const std::string& message);
// "Error" with "Undefined error was occured".
std::shared_ptr<UIAlertController> undefinedErrorAlert();
// The title and message with "Ok".
std::shared_ptr<UIAlertController> notificationAlerWithTitle(const std::string& title, const std::string& message);
// "Attention" with the message and "Ok".
std::shared_ptr<UIAlertController> warningAlertMessage(const std::string& message);
// The title and message with the action, then "Cancel".
std::shared_ptr<UIAlertController> askAlertWithTitle(const std::string& title, const std::string& message,
                                                     const std::shared_ptr<UIAlertAction>& confirmAction);
// The same with an "Ok" running the closure.
std::shared_ptr<UIAlertController> askAlertWithTitle(const std::string& title, const std::string& message,
                                                     std::function<void()> confirmBlock);
// "Attention" as the title.
std::shared_ptr<UIAlertController> askAlertWithMessage(const std::string& message,
                                                       const std::shared_ptr<UIAlertAction>& confirmAction);
std::shared_ptr<UIAlertController> askAlertWithMessage(const std::string& message, std::function<void()> confirmBlock);
}  // namespace UIAlertControllerFactory
