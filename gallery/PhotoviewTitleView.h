// The pager's description strip: a 44-point band above the toolbar with the picture's name.
#pragma once

#include "platform/ui/UIView.h"

#include <memory>
#include <string>

class UIColor;
class UIFont;
class UILabel;

class PhotoviewTitleView : public UIView {
public:
    static std::shared_ptr<PhotoviewTitleView> initWithFrame(const CGRect& frame);
    explicit PhotoviewTitleView(const CGRect& frame);

    const std::shared_ptr<UILabel>& titleLabel() const { return titleLabel_; }
    std::shared_ptr<UIFont> titleFont() const;
    void setTitleFont(std::shared_ptr<UIFont> font);
    std::shared_ptr<UIColor> titleColor() const;
    void setTitleColor(std::shared_ptr<UIColor> color);

    // Shows the title and keeps the description; the label spans the strip less 5 points on
    // each side.
    void updateTitle(const std::string& title, const std::string& description);
    const std::string& descriptionText() const { return description_; }

    static constexpr double kHeight = 44;

private:
    std::shared_ptr<UILabel> titleLabel_;
    std::string description_;
};
