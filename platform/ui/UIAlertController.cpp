// Alerts: a dimmed full-window view with a box of title, message, fields and one button per
// action; a tapped action dismisses the alert, then its handler runs.
#include "platform/ui/UIAlertController.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIPopoverPresentationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/NSStringDrawing.h"

#include <algorithm>
#include <cstdio>

std::shared_ptr<UIAlertController> UIAlertController::alertControllerWithTitle(const std::string& title,
                                                                               const std::string& message,
                                                                               UIAlertControllerStyle style) {
    auto alert = std::make_shared<UIAlertController>();
    alert->setTitle(title);
    alert->message_ = message;
    alert->style_ = style;
    return alert;
}

UIAlertController::UIAlertController() { setModalPresentationStyle(UIModalPresentationStyle::Custom); }

UIAlertController::~UIAlertController() { UIAlertModality::alertEnded(this); }

void UIAlertController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    UIAlertModality::alertShown(shared_from_this());
}

void UIAlertController::viewDidAppear(bool animated) {
    UIViewController::viewDidAppear(animated);
    // Typing goes to the field at once: nobody taps a field the keyboard is already up for.
    if (!textFields_.empty() && !answered_) (void)textFields_.front()->becomeFirstResponder();
}

void UIAlertController::viewWillDisappear(bool animated) {
    // The keyboard leaves with the alert.
    for (const auto& field : textFields_)
        if (field->isFirstResponder()) (void)field->resignFirstResponder();
    UIAlertModality::alertEnded(this);
    UIViewController::viewWillDisappear(animated);
}

void UIAlertController::addAction(const std::shared_ptr<UIAlertAction>& action) {
    if (!action) return;
    if (action->style() == UIAlertActionStyle::Cancel) {
        for (const auto& a : actions_) {
            if (a->style() == UIAlertActionStyle::Cancel) {
                Diagnostics::note("UIAlertController can only have one action with a style of cancel");
                return;
            }
        }
    }
    actions_.push_back(action);
}

void UIAlertController::addTextFieldWithConfigurationHandler(
    std::function<void(const std::shared_ptr<UITextField>&)> configuration) {
    if (style_ != UIAlertControllerStyle::Alert) {
        Diagnostics::note("Text fields can only be added to an alert controller of style alert");
        return;
    }
    auto field = UITextField::initWithFrame(CGRectMake(0, 0, 238, 30));
    // An alert's field shows as a box unless its configuration styles it otherwise.
    field->setBorderStyle(UITextBorderStyleRoundedRect);
    textFields_.push_back(field);
    if (configuration) configuration(field);
}

std::shared_ptr<UIView> UIAlertController::viewForActionAtIndex(std::size_t index) const {
    return index < actionViews_.size() ? actionViews_[index] : nullptr;
}

bool UIAlertController::tapActionAtIndex(std::size_t index) {
    if (answered_ || index >= actions_.size() || !actions_[index]->isEnabled()) return false;
    // An alert that came later lies over this one and takes the touches.
    if (!UIAlertModality::isTopAlert(this)) return false;
    answered_ = true;
    auto self = std::static_pointer_cast<UIAlertController>(shared_from_this());
    auto action = actions_[index];
    if (presentingViewController()) dismissViewControllerAnimated(false, nullptr);
    action->perform();
    return true;
}

bool UIAlertController::tapActionWithTitle(const std::string& title) {
    for (std::size_t i = 0; i < actions_.size(); ++i)
        if (actions_[i]->title() == title) return tapActionAtIndex(i);
    return false;
}

void UIAlertController::loadView() {
    const CGRect screen = UIScreen::mainScreen()->bounds();
    // On a pad a popover holds the box alone, as wide as a popover, beside its bar button.
    const bool popover = modalPresentationStyle() == UIModalPresentationStyle::Popover &&
                         UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
    auto root = UIView::initWithFrame(screen);
    root->setBackgroundColor(popover ? UIColor::clearColor() : UIColor::colorWithWhite(0, 0.4));
    setView(root);

    const bool sheet = style_ == UIAlertControllerStyle::ActionSheet;
    const CGFloat width = popover ? UIPopoverPresentationController::kDefaultWidth : sheet ? screen.size.width - 16 : 270;
    const CGFloat inner = width - 32;
    auto box = UIView::initWithFrame(CGRectMake(0, 0, width, 0));
    box->setBackgroundColor(UIColor::colorWithWhite(0.97, 1));
    box->layer()->setCornerRadius(13);
    box->setClipsToBounds(true);
    CGFloat y = 16;
    auto addLabel = [&](const std::string& text, const std::shared_ptr<UIFont>& font) {
        if (text.empty()) return;
        auto label = UILabel::initWithFrame(CGRectMake(16, y, inner, 0));
        label->setText(text);
        label->setFont(font);
        label->setNumberOfLines(0);
        label->setTextAlignment(NSTextAlignmentCenter);
        const CGSize size = label->sizeThatFits(CGSizeMake(inner, 10000));
        label->setFrame(CGRectMake(16, y, inner, size.height));
        label->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
        box->addSubview(label);
        y += size.height + 6;
    };
    addLabel(title(), UIFont::boldSystemFontOfSize(17));
    addLabel(message_, UIFont::systemFontOfSize(13));
    for (const auto& field : textFields_) {
        y += 4;
        field->setFrame(CGRectMake(16, y, inner, 30));
        box->addSubview(field);
        y += 34;
    }
    y += 10;
    actionViews_.clear();
    std::weak_ptr<UIAlertController> weak = std::static_pointer_cast<UIAlertController>(shared_from_this());
    for (std::size_t i = 0; i < actions_.size(); ++i) {
        const auto& action = actions_[i];
        auto button = UIButton::buttonWithType(UIButtonTypeSystem);
        button->setFrame(CGRectMake(0, y, width, 44));
        // Each title keeps the whole width of the box, however wide it is made.
        button->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
        button->setTitle(action->title(), UIControlStateNormal);
        button->setTitleColor(action->style() == UIAlertActionStyle::Destructive ? UIColor::redColor()
                                                                                : UIColor::systemBlueColor(),
                              UIControlStateNormal);
        if (action->style() == UIAlertActionStyle::Cancel) button->titleLabel()->setFont(UIFont::boldSystemFontOfSize(17));
        button->setEnabled(action->isEnabled());
        button->addTarget(nullptr,
                          [weak, i](const std::shared_ptr<NSObject>&) {
                              if (auto self = weak.lock()) self->tapActionAtIndex(i);
                          },
                          UIControlEventTouchUpInside);
        box->addSubview(button);
        actionViews_.push_back(button);
        y += 44;
    }
    const CGFloat height = y;
    if (popover) {
        root->setFrame(CGRectMake(0, 0, width, height));
        box->setFrame(root->bounds());
        box->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        root->addSubview(box);
        setPreferredContentSize(CGSizeMake(width, height));
        return;
    }
    if (sheet)
        box->setFrame(CGRectMake(8, screen.size.height - height - 8, width, height));
    else
        box->setFrame(CGRectMake((screen.size.width - width) / 2, (screen.size.height - height) / 2, width, height));
    box->setAutoresizingMask(sheet ? (UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin)
                                   : (UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
                                      UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin));
    root->addSubview(box);
}
