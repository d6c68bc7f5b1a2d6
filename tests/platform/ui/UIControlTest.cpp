// Controls: target-action per event with weak targets, buttons per state, toggles, segments,
// sliders, text fields through their delegate, and bar items.
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UISwitch.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UITextView.h"
#include "platform/ui/UIToolbar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Screen : public NSObject {
public:
    std::vector<std::string> calls;
    void tapped(const std::shared_ptr<NSObject>&) { calls.push_back("tapped"); }
    void changed(const std::shared_ptr<NSObject>&) { calls.push_back("changed"); }
};

TEST(TargetAction, ActionsRunPerEventInOrderAndStopWhenTheTargetIsGone) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    auto screen = std::make_shared<Screen>();
    std::vector<std::string> log;
    button->addTarget(screen, &Screen::tapped, UIControlEventTouchUpInside);
    button->addTarget(nullptr, [&](const std::shared_ptr<NSObject>& sender) {
        log.push_back(sender == button ? "block:self" : "block:other");
    }, UIControlEventTouchUpInside | UIControlEventTouchDown);

    button->simulateTap();
    EXPECT_EQ(screen->calls, (std::vector<std::string>{"tapped"}));
    EXPECT_EQ(log, (std::vector<std::string>{"block:self", "block:self"}));  // touch down, then up inside
    EXPECT_FALSE(button->isHighlighted());

    button->setEnabled(false);
    button->simulateTap();
    EXPECT_EQ(screen->calls.size(), 1u);
    button->setEnabled(true);

    std::weak_ptr<Screen> weak = screen;
    screen.reset();
    EXPECT_TRUE(weak.expired());  // the control does not keep its target alive
    button->simulateTap();
    EXPECT_EQ(log.size(), 4u);
}

TEST(Buttons, PerStateContentFallsBackToNormalAndSizesFromImageTitleAndInsets) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    EXPECT_EQ(button->sizeThatFits({0, 0}), CGSizeMake(0, 0));  // nothing inside: nothing to size
    button->setTitle("Play", UIControlStateNormal);
    button->setTitle("Pause", UIControlStateSelected);
    button->setTitleColor(UIColor::redColor(), UIControlStateHighlighted);
    EXPECT_EQ(button->currentTitle(), "Play");
    button->setSelected(true);
    EXPECT_EQ(button->currentTitle(), "Pause");
    EXPECT_EQ(button->titleLabel()->text(), "Pause");
    button->setSelected(false);
    button->setHighlighted(true);
    EXPECT_EQ(button->currentTitle(), "Play");
    EXPECT_TRUE(button->currentTitleColor()->isEqual(UIColor::redColor().get()));
    button->setHighlighted(false);
    EXPECT_TRUE(button->currentTitleColor()->isEqual(UIColor::whiteColor().get()));

    // Title "Play" in 15 pt: 30 × 18; an image 20 × 20 beside it; insets 5 all round.
    std::vector<std::uint8_t> px(20 * 20 * 4, 255);
    button->setImage(UIImage::imageWithPixels(px, 20, 20, 1), UIControlStateNormal);
    button->setContentEdgeInsets(UIEdgeInsetsMake(5, 5, 5, 5));
    button->sizeToFit();
    EXPECT_EQ(button->frame().size, CGSizeMake(60, 30));
    button->layoutIfNeeded();
    EXPECT_EQ(button->imageView()->frame(), CGRectMake(5, 5, 20, 20));
    EXPECT_EQ(button->titleLabel()->frame(), CGRectMake(25, 6, 30, 18));
    // The parts take no touches: hits land on the button.
    EXPECT_EQ(button->hitTest({30, 15}, nullptr), button);
}

TEST(Toggles, SwitchesSegmentsAndSlidersSendValueChangedOnlyForAPersonsChange) {
    auto toggle = UISwitch::make();
    int switched = 0;
    toggle->addTarget(nullptr, [&](const std::shared_ptr<NSObject>&) { ++switched; }, UIControlEventValueChanged);
    toggle->setOn(true);
    EXPECT_EQ(switched, 0);
    toggle->simulateTap();
    EXPECT_FALSE(toggle->isOn());
    EXPECT_EQ(switched, 1);
    EXPECT_EQ(toggle->frame().size, CGSizeMake(51, 31));

    auto segments = UISegmentedControl::initWithItems({"Grid", "List"});
    int picked = 0;
    segments->addTarget(nullptr, [&](const std::shared_ptr<NSObject>&) { ++picked; }, UIControlEventValueChanged);
    segments->setSelectedSegmentIndex(0);
    segments->simulateTapOnSegment(0);
    EXPECT_EQ(picked, 0);
    segments->simulateTapOnSegment(1);
    EXPECT_EQ(picked, 1);
    EXPECT_EQ(segments->selectedSegmentIndex(), 1);
    EXPECT_EQ(segments->titleForSegmentAtIndex(1), "List");
    segments->setSelectedSegmentIndex(7);
    EXPECT_EQ(segments->selectedSegmentIndex(), UISegmentedControlNoSegment);

    auto slider = UISlider::make();
    std::vector<float> values;
    slider->addTarget(nullptr, [&](const std::shared_ptr<NSObject>&) { values.push_back(slider->value()); },
                      UIControlEventValueChanged);
    slider->setValue(3);
    EXPECT_EQ(slider->value(), 1);  // clamped to the range
    slider->simulateDrag(0.5f, 2);
    EXPECT_EQ(values, (std::vector<float>{0.75f, 0.5f}));
}

class FieldDelegate : public UITextFieldDelegate {
public:
    std::vector<std::string> calls;
    bool allowDigits = false;
    bool textFieldShouldBeginEditing(const std::shared_ptr<UITextField>&) override {
        calls.push_back("shouldBegin");
        return true;
    }
    void textFieldDidBeginEditing(const std::shared_ptr<UITextField>&) override { calls.push_back("didBegin"); }
    void textFieldDidEndEditing(const std::shared_ptr<UITextField>&) override { calls.push_back("didEnd"); }
    bool textFieldShouldChangeCharactersInRange(const std::shared_ptr<UITextField>&, NSRange,
                                                const std::string& text) override {
        return allowDigits || text.find_first_of("0123456789") == std::string::npos;
    }
    bool textFieldShouldReturn(const std::shared_ptr<UITextField>& field) override {
        calls.push_back("return");
        field->resignFirstResponder();
        return false;
    }
};

TEST(TextFields, EditingGoesThroughTheDelegateAndFirstResponderObservers) {
    auto field = UITextField::initWithFrame(CGRectMake(0, 0, 200, 30));
    auto delegate = std::make_shared<FieldDelegate>();
    field->setDelegate(delegate);
    field->setPlaceholder("Enter Email Address");
    std::vector<bool> responderChanges;
    const auto token = UIResponder::addFirstResponderObserver(
        [&](const std::shared_ptr<UIResponder>&, const std::shared_ptr<UIResponder>& now) {
            responderChanges.push_back(now == field);
        });

    EXPECT_FALSE(field->insertText("x"));  // not editing
    ASSERT_TRUE(field->becomeFirstResponder());
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_TRUE(field->insertText("ab"));
    EXPECT_FALSE(field->insertText("1"));
    EXPECT_TRUE(field->replaceCharactersInRange({0, 1}, "A"));
    EXPECT_EQ(field->text(), "Ab");
    EXPECT_FALSE(field->simulateReturn());
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"shouldBegin", "didBegin", "return", "didEnd"}));
    EXPECT_EQ(responderChanges, (std::vector<bool>{true, false}));
    UIResponder::removeFirstResponderObserver(token);

    // Removing an editing field from its tree ends the editing.
    auto root = UIView::make();
    root->addSubview(field);
    field->becomeFirstResponder();
    field->removeFromSuperview();
    EXPECT_EQ(UIResponder::currentFirstResponder(), nullptr);
}

class SearchWatcher : public UISearchBarDelegate, public UITextViewDelegate {
public:
    std::vector<std::string> calls;
    void searchBarTextDidBeginEditing(const std::shared_ptr<UISearchBar>&) override { calls.push_back("begin"); }
    void textDidChange(const std::shared_ptr<UISearchBar>&, const std::string& text) override {
        calls.push_back("text " + text);
    }
    void searchBarSearchButtonClicked(const std::shared_ptr<UISearchBar>& bar) override {
        calls.push_back("search");
        bar->resignFirstResponder();
    }
    void searchBarTextDidEndEditing(const std::shared_ptr<UISearchBar>&) override { calls.push_back("end"); }
    void searchBarCancelButtonClicked(const std::shared_ptr<UISearchBar>&) override { calls.push_back("cancel"); }
    bool shouldChangeTextInRange(const std::shared_ptr<UITextView>&, NSRange, const std::string& text) override {
        return text != "!";
    }
    void textViewDidChange(const std::shared_ptr<UITextView>& view) override { calls.push_back("view " + view->text()); }
};

TEST(TextFields, SearchBarsAndTextViewsReportAPersonsTypingToTheirDelegates) {
    auto bar = UISearchBar::make();
    auto watcher = std::make_shared<SearchWatcher>();
    bar->setDelegate(watcher);
    bar->setText("code");  // in code: no delegate call
    bar->simulateTyping("s");
    bar->simulateSearchButton();
    bar->simulateCancelButton();  // no cancel button shown
    bar->setShowsCancelButton(true);
    bar->simulateCancelButton();
    EXPECT_EQ(watcher->calls, (std::vector<std::string>{"begin", "text codes", "search", "end", "cancel"}));

    auto view = UITextView::initWithFrame(CGRectMake(0, 0, 110, 50));
    view->setDelegate(watcher);
    view->setFont(UIFont::systemFontOfSize(10));
    watcher->calls.clear();
    EXPECT_FALSE(view->insertText("x"));  // not editing
    ASSERT_TRUE(view->becomeFirstResponder());
    EXPECT_TRUE(view->insertText("one two three four"));
    EXPECT_FALSE(view->insertText("!"));
    EXPECT_EQ(watcher->calls, (std::vector<std::string>{"view one two three four"}));
    // 110 points less 10 of padding leave 100: "one two three four" (90) is one line of 12 points,
    // plus the 8 + 8 insets.
    EXPECT_EQ(view->contentSize(), CGSizeMake(110, 28));
    view->resignFirstResponder();
    view->setEditable(false);
    EXPECT_FALSE(view->becomeFirstResponder());
}

TEST(BarItems, TapsReachTheActionOrTheCustomControlAndToolbarsShareTheirSpace) {
    int taps = 0;
    auto done = UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemDone, nullptr,
                                                             [&](const std::shared_ptr<NSObject>&) { ++taps; });
    EXPECT_EQ(done->displayTitle(), "Done");
    EXPECT_EQ(done->style(), UIBarButtonItemStyleDone);
    done->simulateTap();
    done->setEnabled(false);
    done->simulateTap();
    EXPECT_EQ(taps, 1);

    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(CGRectMake(0, 0, 30, 30));
    int buttonTaps = 0;
    button->addTarget(nullptr, [&](const std::shared_ptr<NSObject>&) { ++buttonTaps; }, UIControlEventTouchUpInside);
    auto custom = UIBarButtonItem::initWithCustomView(button);
    custom->simulateTap();
    EXPECT_EQ(buttonTaps, 1);

    auto toolbar = UIToolbar::initWithFrame(CGRectMake(0, 0, 320, 44));
    toolbar->setItems({UIBarButtonItem::fixedSpaceItem(20), UIBarButtonItem::flexibleSpaceItem(), custom,
                       UIBarButtonItem::flexibleSpaceItem()});
    const auto frames = toolbar->itemFrames();
    ASSERT_EQ(frames.size(), 4u);
    // 320 - 16 margins - 20 fixed - 30 button - 24 gaps = 230, shared by two flexible spaces.
    EXPECT_EQ(frames[1].size.width, 115);
    EXPECT_EQ(frames[2], CGRectMake(8 + 20 + 8 + 115 + 8, 7, 30, 30));
    EXPECT_EQ(button->superview(), toolbar);
    EXPECT_EQ(button->frame(), frames[2]);
}

}  // namespace
