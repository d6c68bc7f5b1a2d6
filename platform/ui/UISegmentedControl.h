// Segmented controls: titled or image segments, one selected, value-changed on a change.
#pragma once

#include "platform/ui/UIControl.h"

#include <memory>
#include <string>
#include <vector>

class UIImage;
class UIFont;

inline constexpr int UISegmentedControlNoSegment = -1;

class UISegmentedControl : public UIControl {
public:
    static std::shared_ptr<UISegmentedControl> initWithItems(const std::vector<std::string>& titles);
    static std::shared_ptr<UISegmentedControl> make() { return std::make_shared<UISegmentedControl>(); }
    using UIControl::UIControl;

    std::size_t numberOfSegments() const { return segments_.size(); }
    std::string titleForSegmentAtIndex(std::size_t index) const;
    void setTitle(const std::string& title, std::size_t index);
    std::shared_ptr<UIImage> imageForSegmentAtIndex(std::size_t index) const;
    void setImage(std::shared_ptr<UIImage> image, std::size_t index);
    bool isEnabledForSegmentAtIndex(std::size_t index) const;
    void setEnabled(bool enabled, std::size_t index);
    using UIControl::setEnabled;
    // In code: no event, as on the platform.
    int selectedSegmentIndex() const { return selected_; }
    void setSelectedSegmentIndex(int index);
    // Width 0 means equal shares.
    void setWidth(CGFloat width, std::size_t index);
    std::shared_ptr<UIFont> titleFont() const;
    void setTitleFont(std::shared_ptr<UIFont> font) { font_ = std::move(font); }

    // A person's tap on a segment: selects it and sends value-changed when it changed.
    void simulateTapOnSegment(std::size_t index);
    CGRect frameForSegmentAtIndex(std::size_t index) const;

    CGSize sizeThatFits(const CGSize& size) const override;

    // A finger lifted on a segment chooses it.
    void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;

private:
    struct Segment {
        std::string title;
        std::shared_ptr<UIImage> image;
        bool enabled = true;
        CGFloat width = 0;
    };
    std::vector<Segment> segments_;
    int selected_ = UISegmentedControlNoSegment;
    bool momentary_ = false;
    std::shared_ptr<UIFont> font_;
};
