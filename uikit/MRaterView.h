// One screen of the rating banner: a title and two buttons, the three centred as a group.
#pragma once

#include "platform/ui/UIView.h"

#include <functional>
#include <memory>
#include <string>

class NSAttributedString;
class UIButton;
class UIImage;
class UILabel;

class MRaterView : public UIView {
public:
    using Block = std::function<void()>;

    // Both paddings 10, then the title label and the two buttons.
    static std::shared_ptr<MRaterView> raterViewWithFrame(const CGRect& frame);
    explicit MRaterView(const CGRect& frame) : UIView(frame) {}

    const std::shared_ptr<UILabel>& titleLebel() const { return titleLebel_; }
    const std::shared_ptr<UIButton>& leftButton() const { return leftButton_; }
    const std::shared_ptr<UIButton>& rightButton() const { return rightButton_; }
    // The title label's text and attributed text: setting either replaces the other.
    std::string title() const;
    void setTitle(const std::string& title);
    std::shared_ptr<NSAttributedString> attributedTitle() const;
    void setAttributedTitle(std::shared_ptr<NSAttributedString> title);

    double paddingBetweenTitleLabelAndLeftButton() const { return paddingBetweenTitleLabelAndLeftButton_; }
    void setPaddingBetweenTitleLabelAndLeftButton(double padding) { paddingBetweenTitleLabelAndLeftButton_ = padding; }
    double paddingBetweenButtons() const { return paddingBetweenButtons_; }
    void setPaddingBetweenButtons(double padding) { paddingBetweenButtons_ = padding; }
    double overallPadding() const { return paddingBetweenButtons_ + paddingBetweenTitleLabelAndLeftButton_; }

    // The title or image for the normal state, and the block the button runs.
    void setLeftButtonTitle(const std::string& title, Block block);
    void setRightButtonTitle(const std::string& title, Block block);
    void setLeftButtonImage(std::shared_ptr<UIImage> image, Block block);
    void setRightButtonImage(std::shared_ptr<UIImage> image, Block block);
    void leftButtonAction();
    void rightButtonAction();

    // Title, left and right button side by side, the group centred, all on the middle line.
    void layoutSubviews() override;

private:
    void defaultInit();

    std::shared_ptr<UILabel> titleLebel_;
    std::shared_ptr<UIButton> leftButton_;
    std::shared_ptr<UIButton> rightButton_;
    Block leftButtonBlock_;
    Block rightButtonBlock_;
    double paddingBetweenTitleLabelAndLeftButton_ = 10;
    double paddingBetweenButtons_ = 10;
};
