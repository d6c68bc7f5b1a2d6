// The process-wide blocking activity overlay: a dimmed full-window view with a large spinner,
// an optional message and optional buttons, keeping the reminders suspended while it is up.
#pragma once

#include "platform/foundation/NSNotification.h"
#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"

#include <memory>
#include <string>

class UIButton;
class UIView;

class ActivityView : public NSObject {
public:
    static std::shared_ptr<ActivityView> sharedActivityView();
    // A separate overlay (registered for orientation changes like the shared one).
    static std::shared_ptr<ActivityView> make();
    ActivityView() = default;

    // Nothing while shown. Nesting is not counted: the first hide ends it for every user.
    void showActivityIndicator();
    void showActivityIndicatorWithMessage(const std::string& message);
    // Only while shown.
    void setMessageForActivityIndicator(const std::string& message);
    void hideActivityIndicator();
    bool isShown() const { return activityView_ != nullptr; }

    // Only while shown: placed under the message, else centred in the lower half of the box.
    void addButton(const std::shared_ptr<UIButton>& button);
    // A 190 × 50 "Cancel" button handed to addButton and answered; the caller attaches its action.
    std::shared_ptr<UIButton> addCancelButton();

    CGAffineTransform transformForOrientation() const;
    void deviceOrientationDidChange(const NSNotification& notification);
    void removeObservers();

    // The dimmed overlay (empty while hidden) and the box of the last showing.
    const std::shared_ptr<UIView>& activityView() const { return activityView_; }
    const std::shared_ptr<UIView>& centerView() const { return centerView_; }

    static constexpr int kMessageLabelTag = 1001;
    static constexpr double kBoxSide = 320;

private:
    std::shared_ptr<UIView> activityView_;
    std::shared_ptr<UIView> centerView_;
};
