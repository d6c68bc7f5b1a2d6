// A view with the player's title and, when it has one, a subtitle.
#pragma once

#include <memory>

class UILabel;

class OETitleView {
public:
    virtual ~OETitleView() = default;
    virtual std::shared_ptr<UILabel> titleLabel() const = 0;
    // None when the view has no subtitle.
    virtual std::shared_ptr<UILabel> subtitleLabel() const = 0;
};
