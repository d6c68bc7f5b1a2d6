// Text fields: editing through the delegate, typing and the return key.
#include "platform/ui/UITextField.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"

#include <algorithm>
#include <cmath>

UITextField::UITextField() : UITextField(CGRectZero) {}

UITextField::UITextField(const CGRect& frame)
    : UIControl(frame), font_(UIFont::systemFontOfSize(17)), textColor_(UIColor::blackColor()) {}

void UITextField::setText(const std::string& text) {
    text_ = text;
    setNeedsDisplay();
}

void UITextField::setPlaceholder(const std::string& placeholder) {
    placeholder_ = placeholder;
    setNeedsDisplay();
}

void UITextField::setFont(std::shared_ptr<UIFont> font) {
    font_ = font ? std::move(font) : UIFont::systemFontOfSize(17);
    setNeedsDisplay();
}

void UITextField::setTextColor(std::shared_ptr<UIColor> color) {
    textColor_ = color ? std::move(color) : UIColor::blackColor();
    setNeedsDisplay();
}

bool UITextField::canBecomeFirstResponder() const { return isEnabled() && !isHidden(); }

bool UITextField::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder()) return false;
    auto self = std::static_pointer_cast<UITextField>(shared_from_this());
    auto d = delegate();
    if (d && !d->textFieldShouldBeginEditing(self)) return false;
    if (!UIControl::becomeFirstResponder()) return false;
    if (d) d->textFieldDidBeginEditing(self);
    sendActionsForControlEvents(UIControlEventEditingDidBegin);
    postNotification(UITextFieldTextDidBeginEditingNotification);
    return true;
}

bool UITextField::resignFirstResponder() {
    if (!isFirstResponder()) return true;
    auto self = std::static_pointer_cast<UITextField>(shared_from_this());
    auto d = delegate();
    if (d && !d->textFieldShouldEndEditing(self)) return false;
    if (!UIControl::resignFirstResponder()) return false;
    if (d) d->textFieldDidEndEditing(self);
    sendActionsForControlEvents(UIControlEventEditingDidEnd);
    postNotification(UITextFieldTextDidEndEditingNotification);
    return true;
}

bool UITextField::replaceCharactersInRange(NSRange range, const std::string& replacement) {
    if (!isFirstResponder()) return false;
    const std::size_t length = NSString::utf16Length(text_);
    if (range.location > length) return false;
    range.length = std::min(range.length, length - range.location);
    auto self = std::static_pointer_cast<UITextField>(shared_from_this());
    if (auto d = delegate(); d && !d->textFieldShouldChangeCharactersInRange(self, range, replacement)) return false;
    text_ = NSString::substringToIndex(text_, range.location) + replacement +
            NSString::substringFromIndex(text_, range.location + range.length);
    setNeedsDisplay();
    sendActionsForControlEvents(UIControlEventEditingChanged);
    postNotification(UITextFieldTextDidChangeNotification);
    return true;
}

bool UITextField::insertText(const std::string& text) {
    return replaceCharactersInRange({NSString::utf16Length(text_), 0}, text);
}

bool UITextField::clearText() {
    auto self = std::static_pointer_cast<UITextField>(shared_from_this());
    if (auto d = delegate(); d && !d->textFieldShouldClear(self)) return false;
    text_.clear();
    setNeedsDisplay();
    sendActionsForControlEvents(UIControlEventEditingChanged);
    postNotification(UITextFieldTextDidChangeNotification);
    return true;
}

bool UITextField::simulateReturn() {
    if (!isFirstResponder()) return false;
    auto self = std::static_pointer_cast<UITextField>(shared_from_this());
    const bool answer = delegate() ? delegate()->textFieldShouldReturn(self) : true;
    if (answer) sendActionsForControlEvents(UIControlEventEditingDidEndOnExit);
    return answer;
}

void UITextField::simulateTap() {
    if (!isEnabled() || isHidden() || !isUserInteractionEnabled() || !UIAlertModality::touchReaches(this)) return;
    becomeFirstResponder();
}

void UITextField::didTapInside() {
    if (!isFirstResponder()) becomeFirstResponder();
}

CGSize UITextField::sizeThatFits(const CGSize& size) const {
    (void)size;
    const std::string& shown = text_.empty() ? placeholder_ : text_;
    const CGFloat width = static_cast<CGFloat>(NSString::utf16Length(shown)) * font_->glyphWidth();
    const CGFloat inset = borderStyle_ == UITextBorderStyleRoundedRect ? 7 : 0;
    return {std::ceil(width) + 2 * inset, std::ceil(font_->lineHeight()) + (inset > 0 ? 10 : 0)};
}

void UITextField::drawRect(const CGRect& rect) {
    (void)rect;
    auto context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const bool placeholder = text_.empty();
    std::string shown = placeholder ? placeholder_ : text_;
    if (!placeholder && secure_) shown = std::string(NSString::utf16Length(text_), '*');
    if (shown.empty()) return;
    CGContext::Operation op(CGContext::Operation::Kind::DrawText);
    op.text = shown;
    op.font = font_;
    op.color = placeholder ? UIColor::colorWithWhite(0.7, 1) : textColor_;
    const CGFloat width = static_cast<CGFloat>(NSString::utf16Length(shown)) * font_->glyphWidth();
    const CGRect b = bounds();
    CGFloat x = b.origin.x + (borderStyle_ == UITextBorderStyleRoundedRect ? 7 : 0);
    if (alignment_ == NSTextAlignmentCenter) x = b.origin.x + (b.size.width - width) / 2;
    else if (alignment_ == NSTextAlignmentRight) x = CGRectGetMaxX(b) - width;
    op.rect = {{x, b.origin.y + (b.size.height - font_->lineHeight()) / 2}, {width, font_->lineHeight()}};
    context->record(std::move(op));
}

void UITextField::postNotification(const char* name) {
    NSNotificationCenter::defaultCenter()->postNotificationName(name, shared_from_this());
}
