// The remote message's alert and its buttons.
#include "content/iOS_RemoteMessage.h"

#include "platform/foundation/NSBundle.h"
#include "platform/net/NSURL.h"
#include "platform/ui/UIApplication.h"

#include <algorithm>
#include <cctype>

bool iOS_RemoteMessage::isOpenableLink(const std::string& url) {
    auto parsed = NSURL::URLWithString(url);
    if (!parsed) return false;
    std::string scheme = parsed->scheme();
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
    return (scheme == "http" || scheme == "https") && !parsed->host().empty();
}

void iOS_RemoteMessage::show() {
    context_ = shared_from_this();
    alert_ = UIAlertView::initWithTitle(title(), message(), self<iOS_RemoteMessage>(), "", {});
    const Value::Array entries = buttons();
    for (const auto& entry : entries) {
        const long index = alert_->addButtonWithTitle(entry["title"].stringValue());
        if (entry["action"].stringValue() != kOpenLinkAction) alert_->setCancelButtonIndex(index);
    }
    if (entries.empty()) {
        // Without a button the alert could never be closed.
        defaultButton_ = true;
        alert_->setCancelButtonIndex(alert_->addButtonWithTitle(NSBundle::mainBundle()->localizedStringForKey("Ok", "", "Core")));
    }
    alert_->show();
}

void iOS_RemoteMessage::alertViewClickedButtonAtIndex(UIAlertView&, long buttonIndex) {
    const Value::Array entries = buttons();
    if (!defaultButton_ && buttonIndex >= 0 && static_cast<std::size_t>(buttonIndex) < entries.size()) {
        const Value& entry = entries[static_cast<std::size_t>(buttonIndex)];
        const std::string url = entry["url"].stringValue();
        if (entry["action"].stringValue() == kOpenLinkAction && isOpenableLink(url))
            UIApplication::sharedApplication()->openURL(url, {}, nullptr);
    }
    alert_.reset();
    // The last reference may be this one: nothing of the message is touched after it.
    auto keep = std::move(context_);
}

void iOS_RemoteMessage::alertViewDidDismissWithButtonIndex(UIAlertView&, long) {
    alert_.reset();
    auto keep = std::move(context_);
}
