// The progress overlay: a view over a host view that blocks its touches and shows a spinner
// (or a progress value) with an optional label while work runs; hiding fades it out and
// removes it.
#pragma once

#include "platform/ui/UIView.h"

#include <functional>
#include <memory>

class UIActivityIndicatorView;
class UILabel;

enum class MBProgressHUDMode : int { Indeterminate = 0, Determinate = 1, DeterminateHorizontalBar = 2, AnnularDeterminate = 3, CustomView = 4, Text = 5 };

class MBProgressHUD : public UIView {
public:
    // A new overlay covering `view`, added to it and shown.
    static std::shared_ptr<MBProgressHUD> showHUDAddedTo(const std::shared_ptr<UIView>& view, bool animated);
    // Hides the topmost overlay of `view`; false when it has none.
    static bool hideHUDForView(const std::shared_ptr<UIView>& view, bool animated);
    // The topmost overlay of `view` that is not already hiding.
    static std::shared_ptr<MBProgressHUD> HUDForView(const std::shared_ptr<UIView>& view);

    static std::shared_ptr<MBProgressHUD> initWithView(const std::shared_ptr<UIView>& view);
    explicit MBProgressHUD(const CGRect& frame);

    void showAnimated(bool animated);
    // Animated: fades out over the animation time; then (or at once) leaves the host when
    // removeFromSuperViewOnHide is set and runs the completion block.
    void hideAnimated(bool animated);
    void hideAnimated(bool animated, double afterDelay);
    bool isShowing() const { return showing_; }
    static double animationDuration() { return 0.3; }

    MBProgressHUDMode mode() const { return mode_; }
    void setMode(MBProgressHUDMode mode);
    // 0...1, for the determinate modes.
    float progress() const { return progress_; }
    void setProgress(float progress);
    std::shared_ptr<UILabel> label() const { return label_; }
    std::shared_ptr<UILabel> detailsLabel() const { return detailsLabel_; }
    std::shared_ptr<UIActivityIndicatorView> indicator() const { return indicator_; }
    std::shared_ptr<UIView> bezelView() const { return bezel_; }
    bool removeFromSuperViewOnHide() const { return removeOnHide_; }
    void setRemoveFromSuperViewOnHide(bool remove) { removeOnHide_ = remove; }
    void setCompletionBlock(std::function<void()> block) { completion_ = std::move(block); }

    void layoutSubviews() override;

private:
    void build();
    void done();

    MBProgressHUDMode mode_ = MBProgressHUDMode::Indeterminate;
    float progress_ = 0;
    bool showing_ = false;
    bool removeOnHide_ = false;
    std::shared_ptr<UIView> bezel_;
    std::shared_ptr<UIActivityIndicatorView> indicator_;
    std::shared_ptr<UILabel> label_;
    std::shared_ptr<UILabel> detailsLabel_;
    std::function<void()> completion_;
    std::shared_ptr<NSObject> delayToken_;
};
