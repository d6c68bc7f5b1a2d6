// The grid container: the grid above a bar holding the page indicator.
#include "uikit/UIGridViewWithPageControll.h"

#include "platform/ui/UIColor.h"
#include "platform/ui/UIPageControl.h"
#include "uikit/OEGridView.h"

#include <algorithm>

std::shared_ptr<UIGridViewWithPageControll> UIGridViewWithPageControll::initWithFrame(const CGRect& frame) {
    auto container = std::make_shared<UIGridViewWithPageControll>(frame);
    container->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    const CGSize size = frame.size;
    const CGFloat gridHeight = std::max<CGFloat>(0, size.height - kPageBarHeight);
    auto grid = OEGridView::initWithFrame({{0, 0}, {size.width, gridHeight}});
    container->addSubview(grid);
    auto bar = UIView::initWithFrame({{0, gridHeight}, {size.width, kPageBarHeight}});
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin);
    bar->setBackgroundColor(UIColor::clearColor());
    auto pages = UIPageControl::initWithFrame(bar->bounds());
    pages->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    bar->addSubview(pages);
    container->addSubview(bar);
    container->setGridView(grid);
    container->setPageControl(pages);
    return container;
}
