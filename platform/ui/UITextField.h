// Single-line text entry: text, placeholder, delegate, first-responder editing, and typing
// driven by tests and the simulator.
#pragma once

#include "platform/foundation/NSString.h"
#include "platform/ui/NSAttributedString.h"
#include "platform/ui/UIControl.h"

#include <memory>
#include <string>

class UIColor;
class UIFont;
class UITextField;

enum UITextBorderStyle : int {
    UITextBorderStyleNone = 0,
    UITextBorderStyleLine = 1,
    UITextBorderStyleBezel = 2,
    UITextBorderStyleRoundedRect = 3,
};

enum UITextFieldViewMode : int {
    UITextFieldViewModeNever = 0,
    UITextFieldViewModeWhileEditing = 1,
    UITextFieldViewModeUnlessEditing = 2,
    UITextFieldViewModeAlways = 3,
};

enum UIKeyboardType : int {
    UIKeyboardTypeDefault = 0,
    UIKeyboardTypeASCIICapable = 1,
    UIKeyboardTypeNumbersAndPunctuation = 2,
    UIKeyboardTypeURL = 3,
    UIKeyboardTypeNumberPad = 4,
    UIKeyboardTypePhonePad = 5,
    UIKeyboardTypeNamePhonePad = 6,
    UIKeyboardTypeEmailAddress = 7,
    UIKeyboardTypeDecimalPad = 8,
};

enum UIReturnKeyType : int {
    UIReturnKeyDefault = 0,
    UIReturnKeyGo = 1,
    UIReturnKeySearch = 6,
    UIReturnKeySend = 7,
    UIReturnKeyDone = 9,
};

enum UITextAutocapitalizationType : int {
    UITextAutocapitalizationTypeNone = 0,
    UITextAutocapitalizationTypeWords = 1,
    UITextAutocapitalizationTypeSentences = 2,
    UITextAutocapitalizationTypeAllCharacters = 3,
};

enum UITextAutocorrectionType : int {
    UITextAutocorrectionTypeDefault = 0,
    UITextAutocorrectionTypeNo = 1,
    UITextAutocorrectionTypeYes = 2,
};

// Posted (object: the field) after typing changes the text.
inline constexpr const char* UITextFieldTextDidChangeNotification = "UITextFieldTextDidChangeNotification";
inline constexpr const char* UITextFieldTextDidBeginEditingNotification = "UITextFieldTextDidBeginEditingNotification";
inline constexpr const char* UITextFieldTextDidEndEditingNotification = "UITextFieldTextDidEndEditingNotification";

class UITextFieldDelegate {
public:
    virtual ~UITextFieldDelegate() = default;
    virtual bool textFieldShouldBeginEditing(const std::shared_ptr<UITextField>&) { return true; }
    virtual void textFieldDidBeginEditing(const std::shared_ptr<UITextField>&) {}
    virtual bool textFieldShouldEndEditing(const std::shared_ptr<UITextField>&) { return true; }
    virtual void textFieldDidEndEditing(const std::shared_ptr<UITextField>&) {}
    // `range` in UTF-16 units of the current text.
    virtual bool textFieldShouldChangeCharactersInRange(const std::shared_ptr<UITextField>&, NSRange,
                                                        const std::string&) {
        return true;
    }
    virtual bool textFieldShouldClear(const std::shared_ptr<UITextField>&) { return true; }
    virtual bool textFieldShouldReturn(const std::shared_ptr<UITextField>&) { return true; }
};

class UITextField : public UIControl {
public:
    static std::shared_ptr<UITextField> make() { return std::make_shared<UITextField>(); }
    static std::shared_ptr<UITextField> initWithFrame(const CGRect& frame) { return std::make_shared<UITextField>(frame); }

    UITextField();
    explicit UITextField(const CGRect& frame);

    std::string text() const { return text_; }
    // Setting the text in code sends no events and asks no delegate, as on the platform.
    void setText(const std::string& text);
    std::string placeholder() const { return placeholder_; }
    void setPlaceholder(const std::string& placeholder);
    std::shared_ptr<UIFont> font() const { return font_; }
    void setFont(std::shared_ptr<UIFont> font);
    std::shared_ptr<UIColor> textColor() const { return textColor_; }
    void setTextColor(std::shared_ptr<UIColor> color);
    NSTextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(NSTextAlignment alignment) { alignment_ = alignment; }
    UITextBorderStyle borderStyle() const { return borderStyle_; }
    void setBorderStyle(UITextBorderStyle style) { borderStyle_ = style; }
    void setKeyboardType(UIKeyboardType type) { keyboardType_ = type; }
    void setReturnKeyType(UIReturnKeyType type) { returnKeyType_ = type; }
    void setAutocapitalizationType(UITextAutocapitalizationType type) { autocapitalization_ = type; }
    void setAutocorrectionType(UITextAutocorrectionType type) { autocorrection_ = type; }

    std::shared_ptr<UITextFieldDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<UITextFieldDelegate>& delegate) { delegate_ = delegate; }

    bool isEditing() const { return isFirstResponder(); }
    bool canBecomeFirstResponder() const override;
    // Asks the delegate first; then sends editing-did-begin and posts its notification.
    bool becomeFirstResponder() override;
    // Asks the delegate first; then sends editing-did-end and posts its notification.
    bool resignFirstResponder() override;

    // Typing, as a person does it: replaces the characters of `range` (UTF-16 units) with
    // `replacement` when the delegate agrees, then sends editing-changed and posts the
    // change notification. Only while editing.
    bool replaceCharactersInRange(NSRange range, const std::string& replacement);
    // Types at the end of the text.
    bool insertText(const std::string& text);
    // The clear button: empties the text when the delegate agrees.
    bool clearText();
    // The return key: asks the delegate, then sends editing-did-end-on-exit.
    bool simulateReturn();

    CGSize sizeThatFits(const CGSize& size) const override;
    void drawRect(const CGRect& rect) override;
    void simulateTap() override;

protected:
    // A finger lifted on the field starts typing into it.
    void didTapInside() override;

private:
    void postNotification(const char* name);

    std::string text_;
    std::string placeholder_;
    std::shared_ptr<UIFont> font_;
    std::shared_ptr<UIColor> textColor_;
    NSTextAlignment alignment_ = NSTextAlignmentNatural;
    UITextBorderStyle borderStyle_ = UITextBorderStyleNone;
    UIKeyboardType keyboardType_ = UIKeyboardTypeDefault;
    UIReturnKeyType returnKeyType_ = UIReturnKeyDefault;
    UITextAutocapitalizationType autocapitalization_ = UITextAutocapitalizationTypeSentences;
    UITextAutocorrectionType autocorrection_ = UITextAutocorrectionTypeDefault;
    bool secure_ = false;
    std::weak_ptr<UITextFieldDelegate> delegate_;
};
