// The pager's description strip: a 44-point band above the toolbar with the picture's name and,
// when the picture has a description, an information button that opens it.
#pragma once

#include "gallery/GalleryContext.h"
#include "platform/ui/UIView.h"

#include <memory>
#include <string>

class UIButton;
class UIColor;
class UIFont;
class UILabel;
class UINavigationController;

class PhotoviewTitleView : public UIView {
public:
    static std::shared_ptr<PhotoviewTitleView> initWithFrame(const CGRect& frame, GalleryContext context);
    PhotoviewTitleView(const CGRect& frame, GalleryContext context);

    const std::shared_ptr<UILabel>& titleLabel() const { return titleLabel_; }
    const std::shared_ptr<UIButton>& infoButton() const { return infoButton_; }
    std::shared_ptr<UIFont> titleFont() const;
    void setTitleFont(std::shared_ptr<UIFont> font);
    std::shared_ptr<UIColor> titleColor() const;
    void setTitleColor(std::shared_ptr<UIColor> color);
    // The controller that presents the information screen; held weakly.
    std::shared_ptr<UINavigationController> navigationController() const { return navigationController_.lock(); }
    void setNavigationController(const std::shared_ptr<UINavigationController>& navigation) {
        navigationController_ = navigation;
    }

    // Shows the title and keeps the description. Without a description the information button
    // hides and the label spans the strip less 5 points on each side; with one the label leaves
    // room for the button.
    void updateTitle(const std::string& title, const std::string& description);
    const std::string& descriptionText() const { return description_; }
    // The information screen for the picture: the name as its title, the description as its text.
    void infoClick();

    static constexpr double kHeight = 44;
    static constexpr double kInfoButtonWidth = 44;

private:
    void setup();

    GalleryContext context_;
    std::shared_ptr<UILabel> titleLabel_;
    std::shared_ptr<UIButton> infoButton_;
    std::string description_;
    std::weak_ptr<UINavigationController> navigationController_;
};
