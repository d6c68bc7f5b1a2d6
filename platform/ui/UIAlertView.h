// The older alert: buttons by index and a delegate told which one was pressed. Shown alerts
// are listed until answered. A shown alert has a window of its own above the others, holding
// its box with a button for each index, and is modal (UIAlertModality): only the newest takes
// touches.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>
#include <vector>

class UIAlertView;
class UIView;
class UIWindow;

class UIAlertViewDelegate {
public:
    virtual ~UIAlertViewDelegate() = default;
    virtual void alertViewClickedButtonAtIndex(UIAlertView&, long) {}
    virtual void alertViewWillDismissWithButtonIndex(UIAlertView&, long) {}
    virtual void alertViewDidDismissWithButtonIndex(UIAlertView&, long) {}
    virtual void alertViewCancel(UIAlertView&) {}
};

class UIAlertView : public NSObject {
public:
    // Buttons: the cancel button first (when given), then the others in order.
    static std::shared_ptr<UIAlertView> initWithTitle(const std::string& title, const std::string& message,
                                                      const std::shared_ptr<UIAlertViewDelegate>& delegate,
                                                      const std::string& cancelButtonTitle,
                                                      const std::vector<std::string>& otherButtonTitles);

    const std::string& title() const { return title_; }
    void setTitle(const std::string& title) { title_ = title; }
    const std::string& message() const { return message_; }
    void setMessage(const std::string& message) { message_ = message; }
    std::shared_ptr<UIAlertViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<UIAlertViewDelegate>& delegate) { delegate_ = delegate; }

    // Returns the new button's index.
    long addButtonWithTitle(const std::string& title);
    long numberOfButtons() const { return static_cast<long>(buttons_.size()); }
    std::string buttonTitleAtIndex(long index) const;
    // -1 when there is none.
    long cancelButtonIndex() const { return cancelIndex_; }
    void setCancelButtonIndex(long index) { cancelIndex_ = index; }
    long firstOtherButtonIndex() const;

    // Shows the alert (it stays listed, and alive, until a button is pressed or it is dismissed).
    void show();
    bool isVisible() const { return visible_; }
    // While it shows: the window over the main screen whose one subview is the alert's box (the
    // title and message above, the buttons under them, two side by side, more stacked).
    std::shared_ptr<UIWindow> window() const { return window_; }
    // While it shows, the button for `index`: a touch lifted on it presses that button.
    std::shared_ptr<UIView> buttonAtIndex(long index) const;
    // Presses a button: the delegate hears clicked, will-dismiss and did-dismiss. False when
    // the alert is not showing or there is no such button.
    bool tapButtonAtIndex(long index);
    // Dismisses as if `index` was chosen, without the clicked call.
    void dismissWithClickedButtonIndex(long index, bool animated);

    // The alerts showing now, oldest first.
    static std::vector<std::shared_ptr<UIAlertView>> visibleAlertViews();
    // Takes every alert off the screen without telling its delegate (a fresh application).
    static void forgetVisibleAlertViews();

private:
    void makeWindow();

    std::string title_;
    std::string message_;
    std::weak_ptr<UIAlertViewDelegate> delegate_;
    std::vector<std::string> buttons_;
    long cancelIndex_ = -1;
    bool visible_ = false;
    std::shared_ptr<UIWindow> window_;
    std::vector<std::shared_ptr<UIView>> buttonViews_;
};
