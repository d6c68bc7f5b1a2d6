// Search bars: text, placeholder, scope buttons and a cancel button, editing as first
// responder, and the delegate calls of a person typing, searching and cancelling.
#pragma once

#include "platform/ui/UIBarStyle.h"
#include "platform/ui/UIView.h"

#include <memory>
#include <string>
#include <vector>

class UIBarButtonItemView;
class UIColor;
class UISearchBar;

enum UISearchBarStyle : int {
    UISearchBarStyleDefault = 0,
    UISearchBarStyleProminent = 1,
    UISearchBarStyleMinimal = 2,
};

class UISearchBarDelegate {
public:
    virtual ~UISearchBarDelegate() = default;
    virtual bool searchBarShouldBeginEditing(const std::shared_ptr<UISearchBar>&) { return true; }
    virtual void searchBarTextDidBeginEditing(const std::shared_ptr<UISearchBar>&) {}
    virtual bool searchBarShouldEndEditing(const std::shared_ptr<UISearchBar>&) { return true; }
    virtual void searchBarTextDidEndEditing(const std::shared_ptr<UISearchBar>&) {}
    virtual void textDidChange(const std::shared_ptr<UISearchBar>&, const std::string&) {}
    virtual void searchBarSearchButtonClicked(const std::shared_ptr<UISearchBar>&) {}
    virtual void searchBarCancelButtonClicked(const std::shared_ptr<UISearchBar>&) {}
    virtual void selectedScopeButtonIndexDidChange(const std::shared_ptr<UISearchBar>&, long) {}
};

class UISearchBar : public UIView {
public:
    static std::shared_ptr<UISearchBar> make() { return std::make_shared<UISearchBar>(CGRectMake(0, 0, 320, 56)); }
    static std::shared_ptr<UISearchBar> initWithFrame(const CGRect& frame) { return std::make_shared<UISearchBar>(frame); }
    using UIView::UIView;

    // Setting the text in code tells no delegate.
    std::string text() const { return text_; }
    void setText(const std::string& text);
    std::string placeholder() const { return placeholder_; }
    void setPlaceholder(const std::string& placeholder) { placeholder_ = placeholder; }
    std::string prompt() const { return prompt_; }
    void setPrompt(const std::string& prompt) { prompt_ = prompt; }
    bool showsCancelButton() const { return showsCancelButton_; }
    void setShowsCancelButton(bool shows, bool animated = false);
    // The Cancel button at the bar's right end while it shows one; empty otherwise. A tap on it
    // tells the delegate.
    std::shared_ptr<UIView> cancelButton() const;
    bool showsScopeBar() const { return showsScopeBar_; }
    void setShowsScopeBar(bool shows) { showsScopeBar_ = shows; }
    const std::vector<std::string>& scopeButtonTitles() const { return scopeTitles_; }
    void setScopeButtonTitles(std::vector<std::string> titles) { scopeTitles_ = std::move(titles); }
    long selectedScopeButtonIndex() const { return selectedScope_; }
    void setSelectedScopeButtonIndex(long index) { selectedScope_ = index; }
    UIBarStyle barStyle() const { return barStyle_; }
    void setBarStyle(UIBarStyle style) { barStyle_ = style; }
    UISearchBarStyle searchBarStyle() const { return searchBarStyle_; }
    void setSearchBarStyle(UISearchBarStyle style) { searchBarStyle_ = style; }
    std::shared_ptr<UIColor> barTintColor() const { return barTintColor_; }
    void setBarTintColor(std::shared_ptr<UIColor> color) { barTintColor_ = std::move(color); }
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent) { translucent_ = translucent; }

    std::shared_ptr<UISearchBarDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<UISearchBarDelegate>& delegate) { delegate_ = delegate; }
    // The search controller that owns the bar follows editing, typing and cancelling whoever
    // the delegate is; it does not take part in the should-begin and should-end decisions.
    void setOwnerObserver(const std::shared_ptr<UISearchBarDelegate>& observer) { ownerObserver_ = observer; }

    bool canBecomeFirstResponder() const override { return !isHidden(); }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;

    // A person typing `text` at the end (while editing): the delegate hears of the change.
    bool simulateTyping(const std::string& text);
    // A person replacing everything typed (the clear button, or a new text).
    bool simulateReplaceText(const std::string& text);
    void simulateSearchButton();
    void simulateCancelButton();
    void simulateScopeTap(long index);

    CGSize sizeThatFits(const CGSize& size) const override;
    void layoutSubviews() override;

    // A finger lifted on the bar starts typing into it.
    void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;

private:
    std::shared_ptr<UISearchBar> self();
    void cancelButtonClicked();
    // Runs `call` on the delegate, then on the owner observer when it is another object.
    template <class Call>
    void tell(Call call);

    std::string text_;
    std::string placeholder_;
    std::string prompt_;
    bool showsCancelButton_ = false;
    std::shared_ptr<UIBarButtonItemView> cancelButton_;
    bool touched_ = false;
    bool showsScopeBar_ = false;
    std::vector<std::string> scopeTitles_;
    long selectedScope_ = 0;
    UIBarStyle barStyle_ = UIBarStyleDefault;
    UISearchBarStyle searchBarStyle_ = UISearchBarStyleDefault;
    std::shared_ptr<UIColor> barTintColor_;
    bool translucent_ = true;
    std::weak_ptr<UISearchBarDelegate> delegate_;
    std::weak_ptr<UISearchBarDelegate> ownerObserver_;
};
