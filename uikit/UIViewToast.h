// Toasts on any view: short self-dismissing messages, the activity toast and centred spinners.
#pragma once

#include "platform/ui/CGGeometry.h"
#include "platform/ui/NSAttributedString.h"
#include "platform/ui/UIActivityIndicatorView.h"

#include <memory>
#include <optional>
#include <string>
#include <variant>

class NSTimer;
class UIFont;
class UIGestureRecognizer;
class UIImage;
class UIView;

// Where a toast goes: "top", "bottom" or "center" (any letter case), or the wrapper's centre.
class UIToastPosition {
public:
    UIToastPosition(const char* name) : value_(std::string(name)) {}
    UIToastPosition(std::string name) : value_(std::move(name)) {}
    UIToastPosition(CGPoint center) : value_(center) {}

    const std::string* name() const { return std::get_if<std::string>(&value_); }
    const CGPoint* point() const { return std::get_if<CGPoint>(&value_); }

private:
    std::variant<std::string, CGPoint> value_;
};

inline constexpr int kUIToastTag = 12345;
inline constexpr double kUIToastDefaultDuration = 3.0;
inline constexpr double kUIToastFadeDuration = 0.2;

// makeToast:, makeToast:duration:position: and the title / image variants.
void makeToast(const std::shared_ptr<UIView>& host, const std::string& message);
void makeToast(const std::shared_ptr<UIView>& host, const std::string& message, double duration,
               const UIToastPosition& position);
void makeToast(const std::shared_ptr<UIView>& host, const std::string& message, double duration,
               const UIToastPosition& position, const std::string& title);
void makeToast(const std::shared_ptr<UIView>& host, const std::string& message, double duration,
               const UIToastPosition& position, const std::shared_ptr<UIImage>& image);
void makeToast(const std::shared_ptr<UIView>& host, const std::string& message, double duration,
               const UIToastPosition& position, const std::string& title, const std::shared_ptr<UIImage>& image);

// Replaces any toast on the host at once; fades in, stays `duration` seconds, fades out.
void showToast(const std::shared_ptr<UIView>& host, const std::shared_ptr<UIView>& toast);
void showToast(const std::shared_ptr<UIView>& host, const std::shared_ptr<UIView>& toast, double duration,
               const UIToastPosition& position);
void hideToast(const std::shared_ptr<UIView>& toast);
void toastTimerDidFinish(const std::shared_ptr<NSTimer>& timer);
void handleToastTapped(const std::shared_ptr<UIGestureRecognizer>& recognizer);
// The dismissal timer attached to a shown toast; empty before its fade-in ends.
std::shared_ptr<NSTimer> toastTimer(const std::shared_ptr<UIView>& toast);

void makeToastActivity(const std::shared_ptr<UIView>& host);
void makeToastActivity(const std::shared_ptr<UIView>& host, const UIToastPosition& position);
void hideToastActivity(const std::shared_ptr<UIView>& host);
// The activity toast attached to the host; empty when none is shown.
std::shared_ptr<UIView> toastActivityView(const std::shared_ptr<UIView>& host);

CGPoint centerPointForPosition(const std::shared_ptr<UIView>& host, const UIToastPosition& position,
                               const std::shared_ptr<UIView>& toast);
// The text's bounding size for the limit, each side rounded up in single precision.
CGSize sizeForString(const std::string& text, const std::shared_ptr<UIFont>& font, CGSize constrainedToSize,
                     NSLineBreakMode lineBreakMode);
// The wrapper for the parts given; empty when none is.
std::shared_ptr<UIView> viewForMessage(const std::shared_ptr<UIView>& host, const std::optional<std::string>& message,
                                       const std::optional<std::string>& title, const std::shared_ptr<UIImage>& image);

// Spinners centred on the view by constraints; the caller stops and removes them.
std::shared_ptr<UIActivityIndicatorView> showGrayActivityIndicator(const std::shared_ptr<UIView>& view, bool animating);
std::shared_ptr<UIActivityIndicatorView> showLargeWhiteActivityIndicator(const std::shared_ptr<UIView>& view,
                                                                         bool animating);
std::shared_ptr<UIActivityIndicatorView> showActivityIndicatorWithStyle(const std::shared_ptr<UIView>& view,
                                                                        UIActivityIndicatorViewStyle style,
                                                                        bool animating);
