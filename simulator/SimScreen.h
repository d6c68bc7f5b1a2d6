// A snapshot of what the screen shows, as text: navigation bars with their buttons, the
// visible views in reading order with a number on everything that can be touched and the state
// it shows (on, off, selected), toolbars, overlays, alerts, and what each external screen shows.
// The numbers lead back to what they stand for.
#pragma once

#include "platform/ui/CGGeometry.h"
#include "simulator/SimNumbering.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

class NSObject;
class UIView;
class UIWindow;
class UIBarButtonItem;
class UISegmentedControl;
class UINavigationController;
class UIToolbar;

// A text from content or typed by a person as the simulator prints it: on its one line and in
// the order written, whatever it holds. Line breaks, tabs and other control characters (C0, DEL,
// C1), the invisible marks that turn text around or hide in it (bidirectional embeddings,
// overrides, isolates and marks, zero-width spaces, line and paragraph separators and other such
// formatting) and bytes that are no UTF-8 are written as escapes (\n, \t, \u{202E}, \x{FF}); so
// are a backslash and a double quote, so that a quoted text ends where the screen ends it. With
// `quotes` false those two stay as they are: for a line made of texts escaped already and words
// of the simulator's own.
std::string simPrintable(const std::string& text, bool quotes = true);

// A control on the screen: the view a finger touches (a bar's button, an alert's, a search
// bar's Cancel are views like any other).
struct SimTarget {
    std::shared_ptr<UIView> view;
    // The segment of a segmented control shown in a bar; -1 otherwise.
    long buttonIndex = -1;
    // What a person reads on it (title, label texts, a row's every text), for tapping by text.
    std::vector<std::string> texts;
    // How many numbered controls it sits inside (a button in a row is one deeper than the row).
    int depth = 0;
    // As the screen lists it, without the number.
    std::string line;
    // Every parenthesised text the line shows after what it is called, in its order ("badge 3",
    // "disabled", "on", "all", "selected", "placeholder \"Name\""), as the line writes it: so
    // what the screen lists is what `tap` takes back.
    std::vector<std::string> states;
    // What it stands for where that is not its view (a bar's item); its view otherwise.
    std::shared_ptr<const void> object;
    // The screen it is on (SimNumbering's): one number there is one control.
    std::shared_ptr<NSObject> screen;
};

class SimScreen {
public:
    // The screen of the application's visible windows, key window last. With `numbering`, the
    // controls that were on its last screen keep their numbers there and new ones take the
    // lowest numbers free, in reading order; without it, they are numbered in reading order.
    static SimScreen capture(SimNumbering* numbering = nullptr);

    const std::string& text() const { return text_; }
    bool contains(const std::string& needle) const { return text_.find(needle) != std::string::npos; }
    // In reading order.
    const std::vector<SimTarget>& targets() const { return targets_; }
    // By number ("3") or by text: among the controls showing exactly that text the deepest,
    // else among those whose line reads so the deepest (the line as the screen prints it, with its
    // number or without, or up to the states after its name: `button "repeat" (off)`, `[2] slider
    // 0 (0 to 1)`, `button "repeat"`), else among those with a text containing it the deepest;
    // the first in reading order of equally deep ones.
    const SimTarget* find(const std::string& numberOrText) const;
    // The same among the controls that show each of `states` after their names.
    const SimTarget* find(const std::string& numberOrText, const std::vector<std::string>& states) const;
    // A control named with states it shows after its name, "favorite (off)", "menu (badge 3)
    // (disabled)": the ways to read it as a name and the states after it, the fewest states
    // first (a name may end in parentheses of its own, "favorite (2.3kk)"); none when the text
    // ends in no state.
    struct Named {
        std::string name;
        std::vector<std::string> states;
    };
    static std::vector<Named> namesWithStates(const std::string& text);
    const SimTarget* withNumber(int number) const;
    // The number of a target of this screen.
    int numberOf(const SimTarget& target) const { return numbers_[static_cast<std::size_t>(&target - targets_.data())]; }
    // Whether a target names a control by number (digits only).
    static bool isNumber(const std::string& target);
    // The alerts the screen lists, oldest first: the last is in front, the others wait behind it.
    static std::vector<std::shared_ptr<NSObject>> alertsUp();
    // The scroll views on screen, in reading order.
    const std::vector<std::shared_ptr<UIView>>& scrollViews() const { return scrollViews_; }

private:
    void walk(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window, int depth, int nesting);
    // The subviews in reading order, without those an opaque sibling above them hides.
    std::vector<std::shared_ptr<UIView>> visibleSubviews(const std::shared_ptr<UIView>& view,
                                                         const std::shared_ptr<UIWindow>& window) const;
    // The controls inside a row, each on a line of its own under it.
    void walkControls(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window, int depth,
                      int nesting);
    // Numbers and lists one control or area; false when the view is none.
    bool listControl(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window, int depth,
                     int nesting, bool& skipChildren);
    void line(int depth, const std::string& text);
    // A line per connected external screen: its size and what its window shows.
    void externalScreens(const std::vector<std::shared_ptr<UIWindow>>& windows);
    // The alerts up: the one in front with its message, fields and numbered buttons, then those
    // waiting behind it, whose buttons take no touch yet.
    void alerts();
    // Lists the target in its role on its screen (the screen its view is on unless given) and
    // answers the mark its number takes in the text until the numbers are given out
    // (finishNumbers). It is what it is called (`name`: an image button's name, not the count
    // beside it), else what it shows.
    std::string number(SimTarget target, const std::string& role, std::shared_ptr<NSObject> screen = nullptr,
                       const std::string& name = "");
    void finishNumbers(SimNumbering* numbering);
    void navigationBar(const std::shared_ptr<UINavigationController>& nav, int depth, int nesting);
    std::string toolbarRow(const std::shared_ptr<UIToolbar>& toolbar, int nesting);
    // Numbers a bar item shown by `view` in its place (`role`: back, left, right, toolbar; each
    // segment of a segmented control on its own) and answers its text.
    std::string barItem(const std::shared_ptr<UIBarButtonItem>& item, const std::shared_ptr<UIView>& view, int nesting,
                        const std::string& role);
    // Numbers each segment of the control and answers their texts, the selected one in <>.
    std::string segments(const std::shared_ptr<UISegmentedControl>& control, int nesting, const std::string& role);
    // What the view shows as a line, and for a control its role (its kind) and the texts it is
    // tapped by.
    std::string describe(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window, bool& numbered,
                         bool& skipChildren, std::vector<std::string>& texts, std::vector<std::string>& states,
                         std::string& role);

    std::string text_;
    std::vector<SimTarget> targets_;
    std::vector<int> numbers_;
    // Per target: what it is on which screen (SimNumbering), and whether it is its controller's
    // own view: a control inside another of one controller's views is part of what that one is.
    struct Identity {
        SimNumbering::Control control;
        bool controllerView = false;
    };
    std::vector<Identity> identities_;
    // The identity of the latest numbered target at each nesting level, while walking.
    std::vector<Identity> enclosing_;
    // The alerts behind the one in front: their buttons' numbers stay theirs.
    std::set<const NSObject*> waitingAlerts_;
    // The alert listed in front, if any.
    std::shared_ptr<NSObject> alertInFront_;
    std::vector<std::shared_ptr<UIView>> scrollViews_;
    std::vector<std::pair<const UIView*, std::shared_ptr<UINavigationController>>> bars_;
};
