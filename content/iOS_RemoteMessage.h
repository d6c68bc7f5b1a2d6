// A remote message shown as the platform's alert: one button per entry of "buttons"; a button
// whose action opens a link opens its http or https "url"; any other closes the alert and is
// its cancel button. The message keeps itself alive while its alert is up.
#pragma once

#include "content/RemoteMessage.h"
#include "platform/ui/UIAlertView.h"

#include <memory>

class iOS_RemoteMessage : public RemoteMessage, public UIAlertViewDelegate {
public:
    static std::shared_ptr<iOS_RemoteMessage> initWithDictionary(Value dictionary) {
        return std::make_shared<iOS_RemoteMessage>(std::move(dictionary));
    }
    using RemoteMessage::RemoteMessage;

    // A message without buttons gets an "Ok" that closes it.
    void show() override;
    void alertViewClickedButtonAtIndex(UIAlertView& alertView, long buttonIndex) override;
    // An alert taken away without a button pressed lets the message go as well.
    void alertViewDidDismissWithButtonIndex(UIAlertView& alertView, long buttonIndex) override;

    const std::shared_ptr<UIAlertView>& alertView() const { return alert_; }
    // Itself while its alert is up.
    const std::shared_ptr<NSObject>& context() const { return context_; }
    // Only web addresses leave the application: the reply comes over plain HTTP from a server
    // nobody authenticated.
    static bool isOpenableLink(const std::string& url);

private:
    std::shared_ptr<NSObject> context_;
    std::shared_ptr<UIAlertView> alert_;
    bool defaultButton_ = false;
};
