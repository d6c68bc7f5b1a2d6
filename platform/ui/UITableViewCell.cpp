// Table cells: lazily made parts laid out by style; the background swaps while selected.
#include "platform/ui/UITableViewCell.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITouch.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr CGFloat kCellMargin = 15;
constexpr CGFloat kAccessoryWidth = 33;
// The editing controls' widths: the delete control and the reorder control take a strip each,
// the confirmation a button's width at the right.
constexpr CGFloat kEditingControlWidth = 38;
constexpr CGFloat kConfirmationWidth = 82;

std::shared_ptr<UITableView> tableOf(const UIView& cell) {
    return std::dynamic_pointer_cast<UITableView>(cell.superview());
}

// The grip a finger drags a row by; dropped over another row, the table moves the row there.
class ReorderControl : public UIView {
public:
    ReorderControl() {
        auto grip = UILabel::make();
        grip->setText("\u2261");
        grip->setTextAlignment(NSTextAlignmentCenter);
        grip->setTextColor(UIColor::grayColor());
        grip->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        addSubview(grip);
    }
    void attachDrag() {
        auto pan = UIPanGestureRecognizer::make();
        pan->setMaximumNumberOfTouches(1);
        std::weak_ptr<UIView> weak = shared_from_this_view();
        pan->addTarget(nullptr, [weak](const std::shared_ptr<UIGestureRecognizer>& r) {
            auto me = weak.lock();
            if (!me || r->state() != UIGestureRecognizerState::Ended) return;
            auto cell = std::dynamic_pointer_cast<UITableViewCell>(me->superview());
            auto table = cell ? tableOf(*cell) : nullptr;
            if (table) table->reorderControlDropped(cell, r->locationInView(table));
        });
        addGestureRecognizer(pan);
    }

private:
    std::shared_ptr<UIView> shared_from_this_view() { return std::static_pointer_cast<UIView>(shared_from_this()); }
};

// The sign of an accessory type, drawn in the strip at the row's right: a grey chevron, a
// check mark or an information ring in the tint colour, or both ring and chevron. Touches go
// through to the row, which tells a detail button's tap from the row's.
class AccessoryGlyph : public UIView {
public:
    AccessoryGlyph() {
        setUserInteractionEnabled(false);
        setContentMode(UIViewContentModeRedraw);
    }

    void setType(UITableViewCellAccessoryType type) {
        if (type == type_) return;
        type_ = type;
        setNeedsDisplay();
    }
    void tintColorDidChange() override { setNeedsDisplay(); }

    void drawRect(const CGRect&) override {
        auto c = UIGraphicsGetCurrentContext();
        if (!c) return;
        const CGRect b = bounds();
        const CGFloat cy = CGRectGetMidY(b);
        CGContextSetLineCap(c, kCGLineCapRound);
        switch (type_) {
            case UITableViewCellAccessoryDisclosureIndicator: chevron(c, CGRectGetMidX(b), cy); break;
            case UITableViewCellAccessoryCheckmark:
                CGContextSetStrokeColorWithColor(c, tintColor());
                CGContextSetLineWidth(c, 2.5);
                CGContextMoveToPoint(c, CGRectGetMidX(b) - 7, cy);
                CGContextAddLineToPoint(c, CGRectGetMidX(b) - 2, cy + 5);
                CGContextAddLineToPoint(c, CGRectGetMidX(b) + 7, cy - 6);
                CGContextStrokePath(c);
                break;
            case UITableViewCellAccessoryDetailButton: ring(c, CGRectGetMidX(b), cy); break;
            case UITableViewCellAccessoryDetailDisclosureButton:
                ring(c, b.origin.x + 11, cy);
                chevron(c, CGRectGetMaxX(b) - 5, cy);
                break;
            case UITableViewCellAccessoryNone: break;
        }
    }

private:
    static void chevron(const CGContextRef& c, CGFloat cx, CGFloat cy) {
        CGContextSetStrokeColorWithColor(c, UIColor::colorWithWhite(0.72, 1));
        CGContextSetLineWidth(c, 2.5);
        CGContextMoveToPoint(c, cx - 3, cy - 6.5);
        CGContextAddLineToPoint(c, cx + 3, cy);
        CGContextAddLineToPoint(c, cx - 3, cy + 6.5);
        CGContextStrokePath(c);
    }
    // An "i" in a ring.
    void ring(const CGContextRef& c, CGFloat cx, CGFloat cy) {
        const CGFloat radius = 9;
        CGContextSetStrokeColorWithColor(c, tintColor());
        CGContextSetLineWidth(c, 1.5);
        CGContextAddArc(c, cx, cy, radius, 0, 2 * M_PI, 0);
        CGContextStrokePath(c);
        CGContextSetFillColorWithColor(c, tintColor());
        CGContextFillEllipseInRect(c, CGRectMake(cx - 1.3, cy - radius * 0.45 - 1.3, 2.6, 2.6));
        CGContextFillRect(c, CGRectMake(cx - 0.9, cy - radius * 0.2, 1.8, radius * 0.75));
    }

    UITableViewCellAccessoryType type_ = UITableViewCellAccessoryNone;
};
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

void UITableViewCell::showAccessoryGlyph(UITableViewCellAccessoryType type, const CGRect& strip) {
    if (type == UITableViewCellAccessoryNone) {
        if (accessoryGlyph_) accessoryGlyph_->removeFromSuperview();
        accessoryGlyph_.reset();
        return;
    }
    if (!accessoryGlyph_) accessoryGlyph_ = std::make_shared<AccessoryGlyph>();
    static_cast<AccessoryGlyph&>(*accessoryGlyph_).setType(type);
    accessoryGlyph_->setFrame(strip);
    // Over the backgrounds, so a selected row still shows it; under a delete confirmation.
    if (!accessoryGlyph_->superview()) {
        if (deleteConfirmation_ && deleteConfirmation_->superview()) insertSubview(accessoryGlyph_, subviews().size() - 1);
        else addSubview(accessoryGlyph_);
    }
}

CGFloat UITableViewCell::accessoryWidth() const {
    if (accessoryView_) return accessoryView_->frame().size.width + kCellMargin;
    const auto type = editing_ ? editingAccessoryType_ : accessoryType_;
    return type == UITableViewCellAccessoryNone ? 0 : kAccessoryWidth;
}

void UITableViewCell::touchesBegan(const UITouchList&, const std::shared_ptr<UIEvent>&) { touched_ = true; }

void UITableViewCell::touchesCancelled(const UITouchList&, const std::shared_ptr<UIEvent>&) { touched_ = false; }

void UITableViewCell::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (!touched_) return;
    touched_ = false;
    auto table = tableOf(*this);
    auto self = std::static_pointer_cast<UITableViewCell>(shared_from_this());
    auto path = table ? table->indexPathForCell(self) : std::nullopt;
    if (!path) return;
    const CGPoint at = touches.empty() ? CGPointMake(CGRectGetMidX(bounds()), CGRectGetMidY(bounds()))
                                       : touches.front()->locationInView(self);
    if (!pointInside(at, event)) return;
    const auto type = editing_ ? editingAccessoryType_ : accessoryType_;
    const bool detail = type == UITableViewCellAccessoryDetailDisclosureButton || type == UITableViewCellAccessoryDetailButton;
    if (detail && !accessoryView_ && at.x >= CGRectGetMaxX(bounds()) - accessoryWidth()) table->simulateAccessoryTap(*path);
    else table->simulateTapOnRow(*path);
}

void UITableViewCell::setEditingControls(bool deleteControl, bool reorderControl) {
    if (deleteControl && !deleteControl_) {
        deleteControl_ = UIButton::buttonWithType(UIButtonTypeCustom);
        deleteControl_->setTitle("\u2212", UIControlStateNormal);
        deleteControl_->setTitleColor(UIColor::redColor(), UIControlStateNormal);
        std::weak_ptr<UITableViewCell> weak = std::static_pointer_cast<UITableViewCell>(shared_from_this());
        deleteControl_->addTarget(nullptr, [weak](const std::shared_ptr<NSObject>&) {
            auto cell = weak.lock();
            auto table = cell ? tableOf(*cell) : nullptr;
            if (table) table->deleteControlTapped(cell);
        }, UIControlEventTouchUpInside);
        addSubview(deleteControl_);
    } else if (!deleteControl && deleteControl_) {
        deleteControl_->removeFromSuperview();
        deleteControl_.reset();
    }
    if (reorderControl && !reorderControl_) {
        auto grip = std::make_shared<ReorderControl>();
        grip->attachDrag();
        reorderControl_ = grip;
        addSubview(reorderControl_);
    } else if (!reorderControl && reorderControl_) {
        reorderControl_->removeFromSuperview();
        reorderControl_.reset();
    }
    // The grip takes the accessory's place while it shows.
    if (accessoryView_ && reorderControl_ && accessoryView_->superview()) accessoryView_->removeFromSuperview();
    else if (accessoryView_ && !reorderControl_ && !accessoryView_->superview()) addSubview(accessoryView_);
    setNeedsLayout();
}

void UITableViewCell::setDeleteConfirmationTitle(const std::string& title) {
    if (title.empty()) {
        if (deleteConfirmation_) deleteConfirmation_->removeFromSuperview();
        deleteConfirmation_.reset();
        setNeedsLayout();
        return;
    }
    if (!deleteConfirmation_) {
        deleteConfirmation_ = UIButton::buttonWithType(UIButtonTypeCustom);
        deleteConfirmation_->setBackgroundColor(UIColor::redColor());
        deleteConfirmation_->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
        std::weak_ptr<UITableViewCell> weak = std::static_pointer_cast<UITableViewCell>(shared_from_this());
        deleteConfirmation_->addTarget(nullptr, [weak](const std::shared_ptr<NSObject>&) {
            auto cell = weak.lock();
            auto table = cell ? tableOf(*cell) : nullptr;
            if (table) table->deleteConfirmationTapped(cell);
        }, UIControlEventTouchUpInside);
    }
    deleteConfirmation_->setTitle(title, UIControlStateNormal);
    // Above everything of the row.
    addSubview(deleteConfirmation_);
    setNeedsLayout();
}

void UITableViewCell::layoutSubviews() {
    attachContentView();
    const CGRect b = bounds();
    const CGFloat accessory = accessoryWidth();
    // The editing controls take their strips; the content moves over.
    const CGFloat leftStrip = deleteControl_ ? kEditingControlWidth : 0;
    const CGFloat rightStrip = reorderControl_ ? kEditingControlWidth : accessory;
    if (contentView_)
        contentView_->setFrame({{b.origin.x + leftStrip, b.origin.y},
                                {std::max(0.0, b.size.width - leftStrip - rightStrip), b.size.height}});
    if (deleteControl_) deleteControl_->setFrame({b.origin, {kEditingControlWidth, b.size.height}});
    if (reorderControl_)
        reorderControl_->setFrame({{CGRectGetMaxX(b) - kEditingControlWidth, b.origin.y}, {kEditingControlWidth, b.size.height}});
    if (deleteConfirmation_)
        deleteConfirmation_->setFrame({{CGRectGetMaxX(b) - kConfirmationWidth, b.origin.y}, {kConfirmationWidth, b.size.height}});
    if (backgroundView_) backgroundView_->setFrame(b);
    if (selectedBackgroundView_) selectedBackgroundView_->setFrame(b);
    if (defaultSelectedBackground_) defaultSelectedBackground_->setFrame(b);
    if (accessoryView_) {
        const CGSize s = accessoryView_->frame().size;
        accessoryView_->setFrame({{CGRectGetMaxX(b) - kCellMargin - s.width, (b.size.height - s.height) / 2}, s});
    }
    showAccessoryGlyph(accessoryView_ || reorderControl_ ? UITableViewCellAccessoryNone
                       : editing_                       ? editingAccessoryType_
                                                        : accessoryType_,
                       {{CGRectGetMaxX(b) - accessory, b.origin.y}, {accessory, b.size.height}});
    const CGRect content = contentView_ ? contentView_->bounds() : b;
    CGFloat x = kCellMargin + indentationLevel_ * 10.0;
    if (imageView_ && imageView_->image()) {
        const CGSize s = imageView_->image()->size();
        imageView_->setFrame({{x, (content.size.height - s.height) / 2}, s});
        x += s.width + kCellMargin;
    } else if (imageView_) {
        imageView_->setFrame(CGRectZero);
    }
    const CGFloat right = content.size.width - kCellMargin;
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
