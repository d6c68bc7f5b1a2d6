// Multi-line text: text, font and colour, editable or not, typing through the delegate.
#pragma once

#include "platform/foundation/NSString.h"
#include "platform/ui/NSAttributedString.h"
#include "platform/ui/UIScrollView.h"

#include <memory>
#include <string>

class UIColor;
class UIFont;
class UITextView;

inline constexpr const char* UITextViewTextDidChangeNotification = "UITextViewTextDidChangeNotification";

class UITextViewDelegate : public UIScrollViewDelegate {
public:
    virtual bool textViewShouldBeginEditing(const std::shared_ptr<UITextView>&) { return true; }
    virtual void textViewDidBeginEditing(const std::shared_ptr<UITextView>&) {}
    virtual bool textViewShouldEndEditing(const std::shared_ptr<UITextView>&) { return true; }
    virtual void textViewDidEndEditing(const std::shared_ptr<UITextView>&) {}
    virtual bool shouldChangeTextInRange(const std::shared_ptr<UITextView>&, NSRange, const std::string&) { return true; }
    virtual void textViewDidChange(const std::shared_ptr<UITextView>&) {}
};

class UITextView : public UIScrollView {
public:
    static std::shared_ptr<UITextView> make() { return std::make_shared<UITextView>(); }
    static std::shared_ptr<UITextView> initWithFrame(const CGRect& frame) { return std::make_shared<UITextView>(frame); }
    UITextView();
    explicit UITextView(const CGRect& frame);

    std::string text() const { return text_; }
    // In code: no delegate call; the content size follows the text.
    void setText(const std::string& text);
    std::shared_ptr<UIFont> font() const { return font_; }
    void setFont(std::shared_ptr<UIFont> font);
    std::shared_ptr<UIColor> textColor() const { return textColor_; }
    void setTextColor(std::shared_ptr<UIColor> color);
    NSTextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(NSTextAlignment alignment);
    bool isEditable() const { return editable_; }
    void setEditable(bool editable) { editable_ = editable; }

    std::shared_ptr<UITextViewDelegate> delegate() const { return textDelegate_.lock(); }
    // Also the scroll view's delegate.
    void setDelegate(const std::shared_ptr<UITextViewDelegate>& delegate);

    bool canBecomeFirstResponder() const override { return editable_ && !isHidden(); }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    // Typing at the end while editing, through the delegate.
    bool insertText(const std::string& text);
    bool replaceCharactersInRange(NSRange range, const std::string& replacement);

    // A finger lifted on an editable text view starts typing into it.
    void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;

    // The text wrapped to the width less the insets.
    CGSize sizeThatFits(const CGSize& size) const override;
    void layoutSubviews() override;
    // The wrapped lines that fall inside `rect` (in content coordinates), each where it sits.
    void drawRect(const CGRect& rect) override;

private:
    std::shared_ptr<UITextView> self();
    void updateContentSize();

    std::string text_;
    std::shared_ptr<UIFont> font_;
    std::shared_ptr<UIColor> textColor_;
    NSTextAlignment alignment_ = NSTextAlignmentNatural;
    bool editable_ = true;
    bool touched_ = false;
    UIEdgeInsets textInset_{8, 0, 8, 0};
    std::weak_ptr<UITextViewDelegate> textDelegate_;
};
