// A paged grid with its page indicator on a bar along the bottom: the container the grid
// screens take as their view.
#pragma once

#include "platform/ui/UIView.h"

#include <memory>

class OEGridView;
class UIPageControl;

class UIGridViewWithPageControll : public UIView {
public:
    static constexpr CGFloat kPageBarHeight = 37;

    // The grid fills the frame above the bar; both follow the container's size.
    static std::shared_ptr<UIGridViewWithPageControll> initWithFrame(const CGRect& frame);
    explicit UIGridViewWithPageControll(const CGRect& frame) : UIView(frame) {}

    std::shared_ptr<UIPageControl> pageControl() const { return pageControl_.lock(); }
    void setPageControl(const std::shared_ptr<UIPageControl>& pageControl) { pageControl_ = pageControl; }
    std::shared_ptr<OEGridView> gridView() const { return gridView_.lock(); }
    void setGridView(const std::shared_ptr<OEGridView>& gridView) { gridView_ = gridView; }

private:
    std::weak_ptr<UIPageControl> pageControl_;
    std::weak_ptr<OEGridView> gridView_;
};
