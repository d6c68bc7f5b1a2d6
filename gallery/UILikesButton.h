// The pager's like button: a star, filled while the picture is a favourite, with the picture's
// like count beside it in short form (" 12", " 1.5k"); no count shows no text.
#pragma once

#include "platform/ui/UIButton.h"

#include <cstdint>
#include <memory>

class UILikesButton : public UIButton {
public:
    static std::shared_ptr<UILikesButton> initWithFrame(const CGRect& frame);
    explicit UILikesButton(const CGRect& frame);

    bool liked() const { return liked_; }
    void setLiked(bool liked);
    // -1 at creation; 0 and below show no text. The button sizes itself to fit.
    std::int64_t likesCount() const { return likesCount_; }
    void setLikesCount(std::int64_t count);

    static constexpr double kTitleFontSize = 15;

private:
    void uiLikesButton_setup();
    void updateImage();

    bool liked_ = false;
    std::int64_t likesCount_ = -1;
};
