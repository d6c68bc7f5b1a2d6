// A snapshot of what the screen shows, as text: navigation bars with their buttons, the
// visible views in reading order with a number on everything that can be tapped, toolbars,
// overlays and alerts. The numbers lead back to what they stand for.
#pragma once

#include "platform/ui/CGGeometry.h"

#include <memory>
#include <string>
#include <vector>

class UIView;
class UIWindow;
class UIBarButtonItem;
class UISegmentedControl;
class UIAlertView;
class UINavigationController;

struct SimTarget {
    enum class Kind { View, BarItem, BackButton, AlertViewButton };
    Kind kind = Kind::View;
    std::shared_ptr<UIView> view;
    std::shared_ptr<UIBarButtonItem> item;
    std::shared_ptr<UINavigationController> navigation;
    std::shared_ptr<UIAlertView> alertView;
    long buttonIndex = -1;
    // What a person reads on it (title, label text), for tapping by text.
    std::string text;
};

class SimScreen {
public:
    // The screen of the application's visible windows, key window last.
    static SimScreen capture();

    const std::string& text() const { return text_; }
    bool contains(const std::string& needle) const { return text_.find(needle) != std::string::npos; }
    const std::vector<SimTarget>& targets() const { return targets_; }  // number N is targets()[N-1]
    // By number ("3") or by text: an exact match first, then the first target containing it.
    const SimTarget* find(const std::string& numberOrText) const;
    // Whether a target names a control by number (digits only).
    static bool isNumber(const std::string& target);
    // The scroll views on screen, in reading order.
    const std::vector<std::shared_ptr<UIView>>& scrollViews() const { return scrollViews_; }

private:
    void walk(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window, int depth);
    void line(int depth, const std::string& text);
    int number(SimTarget target);
    void navigationBar(const std::shared_ptr<UINavigationController>& nav, int depth);
    // Numbers a bar item (each segment of a segmented control on its own) and answers its text.
    std::string barItem(const std::shared_ptr<UIBarButtonItem>& item);
    // Numbers each segment of the control and answers their texts, the selected one in <>.
    std::string segments(const std::shared_ptr<UISegmentedControl>& control);
    std::string describe(const std::shared_ptr<UIView>& view, bool& numbered, bool& skipChildren);

    std::string text_;
    std::vector<SimTarget> targets_;
    std::vector<std::shared_ptr<UIView>> scrollViews_;
    std::vector<std::pair<const UIView*, std::shared_ptr<UINavigationController>>> bars_;
    std::vector<std::pair<const UIView*, std::shared_ptr<UINavigationController>>> toolbars_;
    // Buttons inside table rows, by the marker left on their row's line: numbered after
    // everything else, so a row's buttons never change the numbers of what follows.
    std::vector<std::pair<std::string, std::vector<std::shared_ptr<UIView>>>> rowButtons_;
    void numberRowButtons();
};
