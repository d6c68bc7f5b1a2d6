// The base of the paged grid's cells: reports single taps (late, so a second tap can take
// them back) and double taps to its grid, and offers highlight and long-press hooks.
#pragma once

#include "platform/ui/UIView.h"

#include <memory>

class OEGridView;
class UIGestureRecognizer;

class OEGridViewCell : public UIView {
public:
    // The highlight subview's tag.
    static constexpr int kSelectedViewTag = 1001;
    // How long a single tap waits for a second one.
    static constexpr double kSingleTapDelay = 0.1;

    static std::shared_ptr<OEGridViewCell> initWithFrame(const CGRect& frame) { return cellWithFrame<OEGridViewCell>(frame); }
    // A cell of a subclass, set up (the long press needs the cell's owner).
    template <class T>
    static std::shared_ptr<T> cellWithFrame(const CGRect& frame) {
        auto cell = std::make_shared<T>(frame);
        cell->setup();
        return cell;
    }
    explicit OEGridViewCell(const CGRect& frame) : UIView(frame) {}

    std::shared_ptr<OEGridView> gridView() const { return gridView_.lock(); }
    void setGridView(const std::shared_ptr<OEGridView>& gridView) { gridView_ = gridView; }
    long index() const { return index_; }
    void setIndex(long index) { index_ = index; }
    bool longpressed() const { return longpressed_; }

    void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;

    // Subclasses add a highlight subview tagged kSelectedViewTag.
    virtual void addSelectedView() {}
    // Fades the highlight out over 0.5 seconds, then removes it.
    void removeSelectedView();
    // Subclasses react to a long press (called once per touch).
    virtual void longPress() {}

protected:
    virtual void setup();

private:
    void longPressSelector(const std::shared_ptr<UIGestureRecognizer>& recognizer);

    std::weak_ptr<OEGridView> gridView_;
    long index_ = 0;
    bool longpressed_ = false;
};
