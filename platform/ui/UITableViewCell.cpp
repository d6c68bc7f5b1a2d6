// Table cells: lazily made parts laid out by style; the background swaps while selected.
#include "platform/ui/UITableViewCell.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

#include <algorithm>

namespace {
constexpr CGFloat kMargin = 15;
constexpr CGFloat kAccessoryWidth = 33;
}  // namespace

UITableViewCell::UITableViewCell() : UITableViewCell(UITableViewCellStyleDefault, "") {}

UITableViewCell::UITableViewCell(UITableViewCellStyle style, const std::string& reuseIdentifier)
    : UIView(CGRectMake(0, 0, 320, 44)), style_(style), reuseIdentifier_(reuseIdentifier) {}

UITableViewCell::UITableViewCell(const CGRect& frame) : UIView(frame) {}

std::shared_ptr<UITableViewCell> UITableViewCell::initWithStyle(UITableViewCellStyle style,
                                                                const std::string& reuseIdentifier) {
    auto cell = std::make_shared<UITableViewCell>(style, reuseIdentifier);
    cell->contentView();
    return cell;
}

std::shared_ptr<UIView> UITableViewCell::contentView() {
    if (!contentView_) {
        contentView_ = UIView::initWithFrame(bounds());
        contentView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    }
    attachContentView();
    return contentView_;
}

void UITableViewCell::attachContentView() {
    // The list, not superview(): while a cell is still being made nothing can lock it, so its
    // content view reads as parentless although it is already in the list.
    if (!contentView_ || std::find(subviews().begin(), subviews().end(), contentView_) != subviews().end()) return;
    std::size_t index = 0;
    for (const auto& sub : subviews())
        if (sub == backgroundView_ || sub == selectedBackgroundView_ || sub == defaultSelectedBackground_) ++index;
    insertSubview(contentView_, index);
}

void UITableViewCell::willMoveToSuperview(const std::shared_ptr<UIView>& newSuperview) {
    attachContentView();
    UIView::willMoveToSuperview(newSuperview);
}

std::shared_ptr<UILabel> UITableViewCell::textLabel() {
    if (!textLabel_) {
        textLabel_ = UILabel::make();
        textLabel_->setFont(UIFont::systemFontOfSize(17));
        if (style_ == UITableViewCellStyleValue2) {
            textLabel_->setFont(UIFont::boldSystemFontOfSize(12));
            textLabel_->setTextAlignment(NSTextAlignmentRight);
        }
        contentView()->addSubview(textLabel_);
        setNeedsLayout();
    }
    return textLabel_;
}

std::shared_ptr<UILabel> UITableViewCell::detailTextLabel() {
    if (style_ == UITableViewCellStyleDefault) return nullptr;
    if (!detailTextLabel_) {
        detailTextLabel_ = UILabel::make();
        switch (style_) {
        case UITableViewCellStyleValue1:
            detailTextLabel_->setFont(UIFont::systemFontOfSize(17));
            detailTextLabel_->setTextColor(UIColor::grayColor());
            detailTextLabel_->setTextAlignment(NSTextAlignmentRight);
            break;
        case UITableViewCellStyleValue2:
            detailTextLabel_->setFont(UIFont::systemFontOfSize(15));
            break;
        default:
            detailTextLabel_->setFont(UIFont::systemFontOfSize(12));
            break;
        }
        contentView()->addSubview(detailTextLabel_);
        setNeedsLayout();
    }
    return detailTextLabel_;
}

std::shared_ptr<UIImageView> UITableViewCell::imageView() {
    if (!imageView_) {
        imageView_ = UIImageView::make();
        contentView()->addSubview(imageView_);
        setNeedsLayout();
    }
    return imageView_;
}

void UITableViewCell::setAccessoryType(UITableViewCellAccessoryType type) {
    accessoryType_ = type;
    setNeedsLayout();
}

void UITableViewCell::setAccessoryView(std::shared_ptr<UIView> view) {
    if (accessoryView_) accessoryView_->removeFromSuperview();
    accessoryView_ = std::move(view);
    if (accessoryView_) addSubview(accessoryView_);
    setNeedsLayout();
}

void UITableViewCell::setBackgroundView(std::shared_ptr<UIView> view) {
    if (backgroundView_) backgroundView_->removeFromSuperview();
    backgroundView_ = std::move(view);
    if (backgroundView_) {
        backgroundView_->setFrame(bounds());
        insertSubview(backgroundView_, 0);
    }
    showSelectionBackground();
}

void UITableViewCell::setSelectedBackgroundView(std::shared_ptr<UIView> view) {
    if (selectedBackgroundView_) selectedBackgroundView_->removeFromSuperview();
    if (defaultSelectedBackground_) defaultSelectedBackground_->removeFromSuperview();
    selectedBackgroundView_ = std::move(view);
    showSelectionBackground();
}

void UITableViewCell::showSelectionBackground() {
    const bool show = (selected_ || highlighted_) && selectionStyle_ != UITableViewCellSelectionStyleNone;
    // Without a background of its own a selected cell is drawn in the system's light grey.
    if (!selectedBackgroundView_ && show && !defaultSelectedBackground_) {
        defaultSelectedBackground_ = UIView::initWithFrame(bounds());
        defaultSelectedBackground_->setBackgroundColor(UIColor::colorWithWhite(0.82, 1.0));
    }
    const auto& view = selectedBackgroundView_ ? selectedBackgroundView_ : defaultSelectedBackground_;
    if (!view) return;
    if (show && !view->superview()) {
        view->setFrame(bounds());
        insertSubview(view, backgroundView_ ? 1 : 0);
    } else if (!show && view->superview()) {
        view->removeFromSuperview();
    }
}

void UITableViewCell::setSelected(bool selected, bool animated) {
    (void)animated;
    selected_ = selected;
    showSelectionBackground();
    if (textLabel_) textLabel_->setHighlighted(selected_ || highlighted_);
    if (detailTextLabel_) detailTextLabel_->setHighlighted(selected_ || highlighted_);
}

void UITableViewCell::setHighlighted(bool highlighted, bool animated) {
    (void)animated;
    highlighted_ = highlighted;
    showSelectionBackground();
}

void UITableViewCell::setEditing(bool editing, bool animated) {
    (void)animated;
    editing_ = editing;
    setNeedsLayout();
}

void UITableViewCell::prepareForReuse() {
    setSelected(false, false);
    setHighlighted(false, false);
    setEditing(false, false);
}

CGFloat UITableViewCell::accessoryWidth() const {
    if (accessoryView_) return accessoryView_->frame().size.width + kMargin;
    const auto type = editing_ ? editingAccessoryType_ : accessoryType_;
    return type == UITableViewCellAccessoryNone ? 0 : kAccessoryWidth;
}

void UITableViewCell::layoutSubviews() {
    attachContentView();
    const CGRect b = bounds();
    const CGFloat accessory = accessoryWidth();
    if (contentView_) contentView_->setFrame({b.origin, {std::max(0.0, b.size.width - accessory), b.size.height}});
    if (backgroundView_) backgroundView_->setFrame(b);
    if (selectedBackgroundView_) selectedBackgroundView_->setFrame(b);
    if (defaultSelectedBackground_) defaultSelectedBackground_->setFrame(b);
    if (accessoryView_) {
        const CGSize s = accessoryView_->frame().size;
        accessoryView_->setFrame({{CGRectGetMaxX(b) - kMargin - s.width, (b.size.height - s.height) / 2}, s});
    }
    const CGRect content = contentView_ ? contentView_->bounds() : b;
    CGFloat x = kMargin + indentationLevel_ * 10.0;
    if (imageView_ && imageView_->image()) {
        const CGSize s = imageView_->image()->size();
        imageView_->setFrame({{x, (content.size.height - s.height) / 2}, s});
        x += s.width + kMargin;
    } else if (imageView_) {
        imageView_->setFrame(CGRectZero);
    }
    const CGFloat right = content.size.width - kMargin;
    const CGFloat width = std::max(0.0, right - x);
    auto fitted = [](const std::shared_ptr<UILabel>& label) {
        return label && !label->text().empty() ? label->sizeThatFits({0, 0}) : CGSizeZero;
    };
    switch (style_) {
    case UITableViewCellStyleDefault:
        if (textLabel_) textLabel_->setFrame({{x, 0}, {width, content.size.height}});
        break;
    case UITableViewCellStyleSubtitle: {
        const CGSize t = fitted(textLabel_), d = fitted(detailTextLabel_);
        const CGFloat top = (content.size.height - t.height - d.height) / 2;
        if (textLabel_) textLabel_->setFrame({{x, top}, {width, t.height}});
        if (detailTextLabel_) detailTextLabel_->setFrame({{x, top + t.height}, {width, d.height}});
        break;
    }
    case UITableViewCellStyleValue1: {
        const CGSize d = fitted(detailTextLabel_);
        const CGFloat dw = std::min(d.width, width);
        if (detailTextLabel_) detailTextLabel_->setFrame({{right - dw, 0}, {dw, content.size.height}});
        if (textLabel_) textLabel_->setFrame({{x, 0}, {std::max(0.0, width - dw - 6), content.size.height}});
        break;
    }
    case UITableViewCellStyleValue2: {
        constexpr CGFloat column = 67;
        if (textLabel_) textLabel_->setFrame({{x, 0}, {column, content.size.height}});
        if (detailTextLabel_)
            detailTextLabel_->setFrame({{x + column + 6, 0}, {std::max(0.0, width - column - 6), content.size.height}});
        break;
    }
    }
}

std::string UITableViewCell::description() const {
    std::string base = UIView::description();
    base.pop_back();
    return base + NSString::format("; reuseIdentifier = '%@'>", reuseIdentifier_);
}
