// Page dots: a page count and the current page; a tap moves one page and sends value-changed.
#pragma once

#include "platform/ui/UIControl.h"

#include <algorithm>

class UIColor;

class UIPageControl : public UIControl {
public:
    static std::shared_ptr<UIPageControl> make() { return std::make_shared<UIPageControl>(); }
    static std::shared_ptr<UIPageControl> initWithFrame(const CGRect& frame) {
        return std::make_shared<UIPageControl>(frame);
    }
    using UIControl::UIControl;

    long numberOfPages() const { return pages_; }
    void setNumberOfPages(long pages) {
        pages_ = std::max(0L, pages);
        currentPage_ = std::clamp(currentPage_, 0L, std::max(0L, pages_ - 1));
        setNeedsDisplay();
    }
    long currentPage() const { return currentPage_; }
    void setCurrentPage(long page) {
        currentPage_ = std::clamp(page, 0L, std::max(0L, pages_ - 1));
        setNeedsDisplay();
    }
    // Dots 7 points wide with 9 points between them, 37 high.
    CGSize sizeForNumberOfPages(long pages) const {
        return {pages > 0 ? static_cast<CGFloat>(pages) * 16 - 9 : 0, 37};
    }
    CGSize sizeThatFits(const CGSize&) const override { return sizeForNumberOfPages(pages_); }

private:
    long pages_ = 0;
    long currentPage_ = 0;
};
