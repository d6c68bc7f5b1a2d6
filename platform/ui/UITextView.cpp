// Text views: wrapped content sizes and typing through the delegate.
#include "platform/ui/UITextView.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/NSStringDrawing.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UITouch.h"

#include <algorithm>
#include <cmath>
#include <limits>

UITextView::UITextView() : UITextView(CGRectZero) {}

UITextView::UITextView(const CGRect& frame)
    : UIScrollView(frame), font_(UIFont::systemFontOfSize(12)), textColor_(UIColor::blackColor()) {}

std::shared_ptr<UITextView> UITextView::self() { return std::static_pointer_cast<UITextView>(shared_from_this()); }

void UITextView::setText(const std::string& text) {
    text_ = text;
    updateContentSize();
    setNeedsDisplay();
}

void UITextView::setFont(std::shared_ptr<UIFont> font) {
    font_ = font ? std::move(font) : UIFont::systemFontOfSize(12);
    updateContentSize();
    setNeedsDisplay();
}

void UITextView::setTextColor(std::shared_ptr<UIColor> color) {
    textColor_ = std::move(color);
    setNeedsDisplay();
}

void UITextView::setTextAlignment(NSTextAlignment alignment) {
    alignment_ = alignment;
    setNeedsDisplay();
}

void UITextView::setDelegate(const std::shared_ptr<UITextViewDelegate>& delegate) {
    textDelegate_ = delegate;
    UIScrollView::setDelegate(delegate);
}

namespace {
// A 5-point line-fragment padding on each side, as the platform's text container.
constexpr CGFloat kLinePadding = 5;
}  // namespace

CGSize UITextView::sizeThatFits(const CGSize& size) const {
    const CGFloat width = size.width - textInset_.left - textInset_.right - 2 * kLinePadding;
    const CGSize text = NSStringSizeWithFont(text_.empty() ? std::string(" ") : text_, font_,
                                             {std::max(1.0, width), std::numeric_limits<CGFloat>::infinity()},
                                             NSLineBreakByWordWrapping);
    return {size.width, std::ceil(text.height + textInset_.top + textInset_.bottom)};
}

void UITextView::updateContentSize() {
    const CGSize fitted = sizeThatFits(bounds().size);
    setContentSize({bounds().size.width, fitted.height});
}

void UITextView::layoutSubviews() {
    UIScrollView::layoutSubviews();
    updateContentSize();
    // A new width wraps the text anew, and a scroll brings other lines into view.
    setNeedsDisplay();
}

void UITextView::drawRect(const CGRect& rect) {
    auto context = UIGraphicsGetCurrentContext();
    if (!context || text_.empty()) return;
    const CGFloat left = textInset_.left + kLinePadding;
    const CGFloat width = std::max(1.0, bounds().size.width - textInset_.right - kLinePadding - left);
    const CGFloat lineHeight = font_->lineHeight();
    CGFloat y = textInset_.top;
    // Lines below the rect are not laid out at all: a long text costs only what shows.
    const auto reach = static_cast<std::size_t>(std::max(0.0, std::ceil((CGRectGetMaxY(rect) - y) / lineHeight)));
    if (reach == 0) return;
    for (const auto& line : NSStringLayoutLines(text_, font_, width, NSLineBreakByWordWrapping, reach)) {
        if (y >= CGRectGetMaxY(rect)) break;
        if (y + lineHeight > rect.origin.y && !line.empty()) {
            CGContext::Operation op(CGContext::Operation::Kind::DrawText);
            op.text = line;
            op.font = font_;
            op.color = textColor_;
            op.rect = {{left, y}, {width, lineHeight}};
            op.alignment = alignment_ == NSTextAlignmentCenter || alignment_ == NSTextAlignmentRight ? alignment_
                                                                                                     : NSTextAlignmentLeft;
            context->record(std::move(op));
        }
        y += lineHeight;
    }
}

bool UITextView::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder()) return false;
    auto d = delegate();
    if (d && !d->textViewShouldBeginEditing(self())) return false;
    if (!UIScrollView::becomeFirstResponder()) return false;
    if (d) d->textViewDidBeginEditing(self());
    return true;
}

bool UITextView::resignFirstResponder() {
    if (!isFirstResponder()) return true;
    auto d = delegate();
    if (d && !d->textViewShouldEndEditing(self())) return false;
    if (!UIScrollView::resignFirstResponder()) return false;
    if (d) d->textViewDidEndEditing(self());
    return true;
}

bool UITextView::replaceCharactersInRange(NSRange range, const std::string& replacement) {
    if (!isFirstResponder()) return false;
    const std::size_t length = NSString::utf16Length(text_);
    if (range.location > length) return false;
    range.length = std::min(range.length, length - range.location);
    auto d = delegate();
    if (d && !d->shouldChangeTextInRange(self(), range, replacement)) return false;
    text_ = NSString::substringToIndex(text_, range.location) + replacement +
            NSString::substringFromIndex(text_, range.location + range.length);
    updateContentSize();
    setNeedsDisplay();
    if (d) d->textViewDidChange(self());
    NSNotificationCenter::defaultCenter()->postNotificationName(UITextViewTextDidChangeNotification, shared_from_this());
    return true;
}

void UITextView::touchesBegan(const UITouchList&, const std::shared_ptr<UIEvent>&) { touched_ = true; }

void UITextView::touchesCancelled(const UITouchList&, const std::shared_ptr<UIEvent>&) { touched_ = false; }

void UITextView::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (!touched_) return;
    touched_ = false;
    if (!touches.empty() && !pointInside(touches.front()->locationInView(self()), event)) return;
    if (editable_ && !isFirstResponder()) (void)becomeFirstResponder();
}

bool UITextView::insertText(const std::string& text) {
    return replaceCharactersInRange({NSString::utf16Length(text_), 0}, text);
}
