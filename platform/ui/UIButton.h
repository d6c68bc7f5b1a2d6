// Buttons: title, title colour, image and background image per state, a title label and an
// image view laid out inside the content insets, target-action through UIControl.
#pragma once

#include "platform/ui/UIControl.h"

#include <map>
#include <memory>
#include <string>

class UIColor;
class UIImage;
class UIImageView;
class UILabel;
class NSAttributedString;

enum UIButtonType : int {
    UIButtonTypeCustom = 0,
    UIButtonTypeSystem = 1,
    UIButtonTypeDetailDisclosure = 2,
    UIButtonTypeInfoLight = 3,
    UIButtonTypeInfoDark = 4,
    UIButtonTypeContactAdd = 5,
    UIButtonTypeClose = 7,
    UIButtonTypeRoundedRect = UIButtonTypeSystem,
};

class UIButton : public UIControl {
public:
    static std::shared_ptr<UIButton> buttonWithType(UIButtonType type);
    static std::shared_ptr<UIButton> make() { return buttonWithType(UIButtonTypeCustom); }
    static std::shared_ptr<UIButton> initWithFrame(const CGRect& frame);

    UIButton();
    explicit UIButton(const CGRect& frame);

    UIButtonType buttonType() const { return type_; }

    // Per state; a state without its own value shows the normal state's.
    void setTitle(const std::string& title, unsigned state);
    std::string titleForState(unsigned state) const;
    void setTitleColor(std::shared_ptr<UIColor> color, unsigned state);
    std::shared_ptr<UIColor> titleColorForState(unsigned state) const;
    void setImage(std::shared_ptr<UIImage> image, unsigned state);
    std::shared_ptr<UIImage> imageForState(unsigned state) const;
    void setBackgroundImage(std::shared_ptr<UIImage> image, unsigned state);
    std::shared_ptr<UIImage> backgroundImageForState(unsigned state) const;
    std::shared_ptr<NSAttributedString> attributedTitleForState(unsigned state) const;

    std::string currentTitle() const { return titleForState(state()); }
    std::shared_ptr<UIColor> currentTitleColor() const { return titleColorForState(state()); }
    std::shared_ptr<UIImage> currentImage() const { return imageForState(state()); }
    std::shared_ptr<UIImage> currentBackgroundImage() const { return backgroundImageForState(state()); }

    // Made on first use; shows the current title.
    std::shared_ptr<UILabel> titleLabel();
    // Made on first use; shows the current image.
    std::shared_ptr<UIImageView> imageView();

    void setContentEdgeInsets(UIEdgeInsets insets);
    void setShowsTouchWhenHighlighted(bool shows) { showsTouch_ = shows; }

    void setEnabled(bool enabled) override;
    void setHighlighted(bool highlighted) override;
    void setSelected(bool selected) override;

    // Image width + title width and the taller of the two, plus the content insets.
    CGSize sizeThatFits(const CGSize& size) const override;
    CGSize intrinsicContentSize() const override;
    void layoutSubviews() override;
    // The background image of the current state, stretched over the bounds; an information
    // button without an image draws its sign, an "i" in a ring. The image and title are drawn by
    // their own views above.
    void drawRect(const CGRect& rect) override;

    std::string description() const override;

protected:
    void tintColorDidChange() override;

private:
    template <class T>
    static T lookup(const std::map<unsigned, T>& table, unsigned state);
    void updateContent();
    CGSize titleSize() const;

    UIButtonType type_ = UIButtonTypeCustom;
    std::map<unsigned, std::string> titles_;
    std::map<unsigned, std::shared_ptr<UIColor>> titleColors_;
    std::map<unsigned, std::shared_ptr<UIImage>> images_;
    std::map<unsigned, std::shared_ptr<UIImage>> backgroundImages_;
    std::map<unsigned, std::shared_ptr<NSAttributedString>> attributedTitles_;
    std::shared_ptr<UILabel> titleLabel_;
    std::shared_ptr<UIImageView> imageView_;
    UIEdgeInsets contentEdgeInsets_;
    UIEdgeInsets titleEdgeInsets_;
    UIEdgeInsets imageEdgeInsets_;
    bool showsTouch_ = false;
};
