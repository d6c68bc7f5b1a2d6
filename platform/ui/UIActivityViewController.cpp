// The share sheet: its items laid out under a bar with the close button.
#include "platform/ui/UIActivityViewController.h"

#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIPopoverPresentationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIToolbar.h"

#include <cstdio>
#include <cstdlib>

namespace {
constexpr CGFloat kBarTop = 20;
constexpr CGFloat kBarHeight = 44;
constexpr CGFloat kMargin = 15;
constexpr CGFloat kPictureSide = 120;
constexpr CGFloat kTextHeight = 44;
}  // namespace

std::shared_ptr<UIActivityViewController> UIActivityViewController::initWithActivityItems(
    std::vector<UIActivityItem> items, const std::vector<std::string>& applicationActivities) {
    if (!applicationActivities.empty()) {
        std::fprintf(stderr, "The share sheet takes no activities of the application.\n");
        std::abort();
    }
    return std::make_shared<UIActivityViewController>(std::move(items));
}

UIActivityViewController::UIActivityViewController(std::vector<UIActivityItem> items) : items_(std::move(items)) {}

void UIActivityViewController::loadView() {
    // On a pad it pops over from its bar button, as wide as a popover and as tall as its items.
    const bool popover = modalPresentationStyle() == UIModalPresentationStyle::Popover &&
                         UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
    CGRect screen = UIScreen::mainScreen()->bounds();
    if (popover) screen.size.width = UIPopoverPresentationController::kDefaultWidth;
    const CGFloat barTop = popover ? 0 : kBarTop;
    auto root = UIView::initWithFrame(screen);
    root->setBackgroundColor(UIColor::whiteColor());
    root->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);

    std::weak_ptr<UIActivityViewController> weak = self<UIActivityViewController>();
    close_ = UIBarButtonItem::initWithTitle("Close", UIBarButtonItemStyleDone, self<UIActivityViewController>(),
                                            [weak](const std::shared_ptr<NSObject>&) {
                                                if (auto me = weak.lock()) me->close();
                                            });
    auto bar = UIToolbar::initWithFrame(CGRectMake(0, barTop, screen.size.width, kBarHeight));
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    bar->setItems({UIBarButtonItem::flexibleSpaceItem(), close_});
    root->addSubview(bar);

    CGFloat y = barTop + kBarHeight + kMargin;
    for (const auto& item : items_) {
        if (const auto* picture = std::get_if<std::shared_ptr<UIImage>>(&item)) {
            auto view = UIImageView::initWithImage(*picture);
            view->setFrame(CGRectMake(kMargin, y, kPictureSide, kPictureSide));
            view->setContentMode(UIViewContentModeScaleAspectFit);
            root->addSubview(view);
            y += kPictureSide + kMargin;
        } else {
            auto label = UILabel::initWithFrame(CGRectMake(kMargin, y, screen.size.width - 2 * kMargin, kTextHeight));
            label->setText(std::get<std::string>(item));
            label->setFont(UIFont::systemFontOfSize(15));
            label->setNumberOfLines(2);
            label->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
            root->addSubview(label);
            y += kTextHeight + kMargin;
        }
    }
    if (popover) {
        root->setFrame(CGRectMake(0, 0, screen.size.width, y));
        setPreferredContentSize(CGSizeMake(screen.size.width, y));
    }
    setView(root);
}

void UIActivityViewController::close() {
    auto keep = self<UIActivityViewController>();
    dismissViewControllerAnimated(true, nullptr);
}
