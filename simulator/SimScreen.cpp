// Reading the view tree as a person would: top to bottom, left to right, skipping what
// cannot be seen, numbering what can be tapped.
#include "simulator/SimScreen.h"

#include "platform/foundation/NSString.h"
#include "platform/widgets/BPMKNumberBadgeView.h"
#include "platform/widgets/MBProgressHUD.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UICollectionView.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIPageControl.h"
#include "platform/ui/UIProgressView.h"
#include "platform/ui/UIScrollView.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UISwitch.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWebView.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// No screen shows more text than this many characters; a longer text is cut there.
constexpr std::size_t kScreenfulOfCharacters = 4000;

std::string screenful(const std::string& s) {
    if (s.size() <= kScreenfulOfCharacters) return s;  // never more characters than bytes
    std::size_t at = 0;
    for (std::size_t count = 0; at < s.size() && count < kScreenfulOfCharacters; ++count) NSString::nextCodePoint(s, at);
    return at < s.size() ? s.substr(0, at) + "\u2026" : s;
}

std::string quoted(const std::string& s) { return "\"" + screenful(s) + "\""; }

std::string numberText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

bool visibleIn(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window) {
    if (view->isHidden() || view->alpha() < 0.01) return false;
    const CGRect r = view->convertRectToView(view->bounds(), window);
    return CGRectIntersectsRect(r, window->bounds()) || view->bounds().size.width == 0;
}

// Every controller on screen: roots, their children and what they present.
void controllersOf(const std::shared_ptr<UIViewController>& vc, std::vector<std::shared_ptr<UIViewController>>& out) {
    if (!vc) return;
    out.push_back(vc);
    for (const auto& child : vc->childViewControllers()) controllersOf(child, out);
    controllersOf(vc->presentedViewController(), out);
}

std::string itemText(const std::shared_ptr<UIBarButtonItem>& item) {
    std::string t = item->displayTitle();
    if (t.empty() && item->customView()) {
        if (auto b = std::dynamic_pointer_cast<UIButton>(item->customView())) {
            t = b->currentTitle();
            if (t.empty() && b->currentImage()) t = b->currentImage()->name();
        }
    }
    return t.empty() ? "item" : t;
}

}  // namespace

SimScreen SimScreen::capture() {
    SimScreen screen;
    auto app = UIApplication::sharedApplication();
    if (!app) return screen;
    auto windows = app->windows();
    auto key = app->keyWindow();
    std::stable_sort(windows.begin(), windows.end(), [&](const auto& a, const auto& b) {
        if (a->windowLevel() != b->windowLevel()) return a->windowLevel() < b->windowLevel();
        return a != key && b == key;
    });
    for (const auto& window : windows) {
        if (window->isHidden()) continue;
        std::vector<std::shared_ptr<UIViewController>> controllers;
        controllersOf(window->rootViewController(), controllers);
        for (const auto& vc : controllers) {
            auto nav = std::dynamic_pointer_cast<UINavigationController>(vc);
            if (!nav || !nav->isViewLoaded()) continue;
            screen.bars_.push_back({nav->navigationBar().get(), nav});
            screen.toolbars_.push_back({nav->toolbar().get(), nav});
        }
        screen.walk(window, window, 0);
    }
    for (const auto& alert : UIAlertView::visibleAlertViews()) {
        screen.line(0, "== alert: " + screenful(alert->title()) + " ==");
        if (!alert->message().empty()) screen.line(1, screenful(alert->message()));
        for (long i = 0; i < alert->numberOfButtons(); ++i) {
            SimTarget t;
            t.kind = SimTarget::Kind::AlertViewButton;
            t.alertView = alert;
            t.buttonIndex = i;
            t.text = screenful(alert->buttonTitleAtIndex(i));
            const int n = screen.number(t);
            screen.line(1, "[" + std::to_string(n) + "] " + t.text);
        }
    }
    screen.numberRowButtons();
    return screen;
}

void SimScreen::numberRowButtons() {
    for (const auto& [marker, buttons] : rowButtons_) {
        std::string shown;
        for (const auto& button : buttons) {
            bool numbered = false, skip = false;
            const std::string text = describe(button, numbered, skip);
            SimTarget t;
            t.kind = SimTarget::Kind::View;
            t.view = button;
            const auto first = text.find('"');
            const auto last = text.find('"', first == std::string::npos ? 0 : first + 1);
            if (first != std::string::npos && last != std::string::npos) t.text = text.substr(first + 1, last - first - 1);
            shown += "  [" + std::to_string(number(t)) + "] " + text;
        }
        text_.replace(text_.find(marker), marker.size(), shown);
    }
    rowButtons_.clear();
}

void SimScreen::line(int depth, const std::string& text) {
    text_ += std::string(static_cast<std::size_t>(depth) * 2, ' ') + text + "\n";
}

int SimScreen::number(SimTarget target) {
    targets_.push_back(std::move(target));
    return static_cast<int>(targets_.size());
}

void SimScreen::navigationBar(const std::shared_ptr<UINavigationController>& nav, int depth) {
    auto top = nav->topViewController();
    if (!top) return;
    auto item = top->navigationItem();
    std::string title = screenful(item->title().empty() ? top->title() : item->title());
    line(depth, "== " + (title.empty() ? std::string("(untitled)") : title) + " ==");
    std::string row;
    if (nav->showsBackButton()) {
        SimTarget t;
        t.kind = SimTarget::Kind::BackButton;
        t.navigation = nav;
        t.text = screenful(nav->backButtonTitle());
        const int n = number(t);
        row += "[" + std::to_string(n) + "] < " + t.text + "  ";
    }
    auto addItems = [&](const std::vector<std::shared_ptr<UIBarButtonItem>>& items) {
        for (const auto& it : items) {
            if (it->isSpace()) continue;
            row += barItem(it);
        }
    };
    addItems(item->leftBarButtonItems());
    // A segmented control in the title's place reads like one in a toolbar.
    if (auto seg = std::dynamic_pointer_cast<UISegmentedControl>(item->titleView())) row += segments(seg);
    if (!item->rightBarButtonItems().empty()) {
        row += "| ";
        auto right = item->rightBarButtonItems();
        std::reverse(right.begin(), right.end());  // outermost first in the list, shown last
        addItems(right);
    }
    if (!row.empty()) line(depth + 1, row);
}

std::string SimScreen::segments(const std::shared_ptr<UISegmentedControl>& seg) {
    std::string row;
    for (std::size_t i = 0; i < seg->numberOfSegments(); ++i) {
        SimTarget t;
        t.kind = SimTarget::Kind::View;
        t.view = seg;
        t.buttonIndex = static_cast<long>(i);
        t.text = screenful(seg->titleForSegmentAtIndex(i));
        const bool on = static_cast<int>(i) == seg->selectedSegmentIndex();
        row += "[" + std::to_string(number(t)) + "] " + (on ? "<" + t.text + ">" : t.text) + "  ";
    }
    return row;
}

std::string SimScreen::barItem(const std::shared_ptr<UIBarButtonItem>& it) {
    if (auto seg = std::dynamic_pointer_cast<UISegmentedControl>(it->customView())) return segments(seg);
    SimTarget t;
    t.kind = SimTarget::Kind::BarItem;
    t.item = it;
    t.text = screenful(itemText(it));
    const int n = number(t);
    return "[" + std::to_string(n) + "] " + t.text + (it->isEnabled() ? "" : " (disabled)") + "  ";
}

std::string SimScreen::describe(const std::shared_ptr<UIView>& view, bool& numbered, bool& skipChildren) {
    numbered = false;
    skipChildren = false;
    if (auto hud = std::dynamic_pointer_cast<MBProgressHUD>(view)) {
        skipChildren = true;
        std::string t = "(overlay: ";
        t += hud->mode() == MBProgressHUDMode::Indeterminate ? "busy" : "progress " + numberText(hud->progress());
        if (!hud->label()->text().empty()) t += " " + quoted(hud->label()->text());
        if (!hud->detailsLabel()->text().empty()) t += " " + quoted(hud->detailsLabel()->text());
        return t + ")";
    }
    if (auto badge = std::dynamic_pointer_cast<BPMKNumberBadgeView>(view)) return "(badge " + screenful(badge->text()) + ")";
    if (auto field = std::dynamic_pointer_cast<UITextField>(view)) {
        numbered = true;
        skipChildren = true;
        std::string t = "field " + quoted(field->text());
        if (field->text().empty() && !field->placeholder().empty()) t += " (placeholder " + quoted(field->placeholder()) + ")";
        if (field->isFirstResponder()) t += " (typing)";
        return t;
    }
    if (auto button = std::dynamic_pointer_cast<UIButton>(view)) {
        numbered = true;
        skipChildren = true;
        std::string t = button->currentTitle();
        if (t.empty() && button->currentImage()) t = "image " + button->currentImage()->name();
        if (t.empty() && (button->buttonType() == UIButtonTypeInfoDark || button->buttonType() == UIButtonTypeInfoLight))
            t = "info";
        std::string out = "button " + quoted(t);
        if (!button->isEnabled()) out += " (disabled)";
        if (button->isSelected()) out += " (selected)";
        return out;
    }
    if (auto sw = std::dynamic_pointer_cast<UISwitch>(view)) {
        numbered = true;
        skipChildren = true;
        return std::string("switch ") + (sw->isOn() ? "on" : "off");
    }
    if (auto slider = std::dynamic_pointer_cast<UISlider>(view)) {
        numbered = true;
        skipChildren = true;
        return "slider " + numberText(slider->value());
    }
    if (auto seg = std::dynamic_pointer_cast<UISegmentedControl>(view)) {
        numbered = true;
        skipChildren = true;
        std::string t = "segments";
        for (std::size_t i = 0; i < seg->numberOfSegments(); ++i) {
            const bool on = static_cast<int>(i) == seg->selectedSegmentIndex();
            t += std::string(" ") + (on ? "<" : "") + screenful(seg->titleForSegmentAtIndex(i)) + (on ? ">" : "");
        }
        return t;
    }
    if (auto pages = std::dynamic_pointer_cast<UIPageControl>(view)) {
        numbered = true;
        skipChildren = true;
        return "page " + std::to_string(pages->currentPage() + 1) + " of " + std::to_string(pages->numberOfPages());
    }
    if (auto progress = std::dynamic_pointer_cast<UIProgressView>(view)) {
        skipChildren = true;
        return "progress " + numberText(progress->progress());
    }
    if (auto spinner = std::dynamic_pointer_cast<UIActivityIndicatorView>(view))
        return spinner->isAnimating() ? "(busy)" : "";
    if (auto control = std::dynamic_pointer_cast<UIControl>(view)) {
        numbered = true;
        return "control";
    }
    if (auto label = std::dynamic_pointer_cast<UILabel>(view)) return label->text().empty() ? "" : quoted(label->text());
    if (auto web = std::dynamic_pointer_cast<UIWebView>(view)) {
        skipChildren = true;
        // One screen line: paragraphs run on.
        std::string text = web->text();
        std::replace(text.begin(), text.end(), '\n', ' ');
        return text.empty() ? "" : "page " + quoted(text);
    }
    if (auto image = std::dynamic_pointer_cast<UIImageView>(view)) {
        auto img = image->currentImage();
        return img && !img->name().empty() ? "image " + img->name() : "";
    }
    if (std::dynamic_pointer_cast<UITableViewCell>(view)) {
        numbered = true;
        return "row";
    }
    if (auto cell = std::dynamic_pointer_cast<UICollectionViewCell>(view)) {
        // A grid cell reads as its picture's file name, then the signs laid over it.
        numbered = true;
        skipChildren = true;
        std::vector<std::string> pictures;
        bool busy = false;
        std::function<void(const std::shared_ptr<UIView>&)> collect = [&](const std::shared_ptr<UIView>& v) {
            if (v->isHidden()) return;
            if (auto image = std::dynamic_pointer_cast<UIImageView>(v)) {
                auto picture = image->currentImage();
                pictures.push_back(picture ? NSString::lastPathComponent(picture->name()) : "");
            }
            if (auto spinner = std::dynamic_pointer_cast<UIActivityIndicatorView>(v); spinner && spinner->isAnimating())
                busy = true;
            for (const auto& sub : v->subviews()) collect(sub);
        };
        collect(cell);
        std::string t = "cell";
        if (!pictures.empty() && !pictures.front().empty()) t += " " + quoted(pictures.front());
        for (std::size_t i = 1; i < pictures.size(); ++i)
            if (!pictures[i].empty()) t += " +" + screenful(pictures[i]);
        if (busy) t += " (busy)";
        return t;
    }
    if (!view->gestureRecognizers().empty() && view->isUserInteractionEnabled()) {
        numbered = true;
        return "area";
    }
    return "";
}

void SimScreen::walk(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window, int depth) {
    if (!visibleIn(view, window)) return;
    for (const auto& [bar, nav] : bars_) {
        if (bar == view.get()) {
            navigationBar(nav, depth);
            return;
        }
    }
    for (const auto& [tb, nav] : toolbars_) {
        if (tb != view.get()) continue;
        std::string row = "-- toolbar: ";
        for (const auto& it : nav->toolbar()->items()) {
            if (it->isSpace()) continue;
            row += barItem(it);
        }
        line(depth, row);
        return;
    }
    if (auto toolbar = std::dynamic_pointer_cast<UIToolbar>(view)) {
        std::string row = "-- toolbar: ";
        for (const auto& it : toolbar->items()) {
            if (it->isSpace()) continue;
            row += barItem(it);
        }
        line(depth, row);
        return;
    }
    bool numbered = false, skip = false;
    std::string text = describe(view, numbered, skip);
    int childDepth = depth;
    if (std::dynamic_pointer_cast<UIScrollView>(view)) scrollViews_.push_back(view);
    if (numbered) {
        SimTarget t;
        t.kind = SimTarget::Kind::View;
        t.view = view;
        // A row or area is tapped by the first text inside it.
        if (auto field = std::dynamic_pointer_cast<UITextField>(view)) {
            t.text = field->text().empty() ? field->placeholder() : field->text();
        } else if (auto cell = std::dynamic_pointer_cast<UITableViewCell>(view)) {
            t.text = cell->textLabel()->text();
            text = "row " + quoted(cell->textLabel()->text());
            // Default-style cells have no detail label.
            if (auto detail = cell->detailTextLabel(); detail && !detail->text().empty())
                text += " " + quoted(detail->text());
            // Cells laid out with labels of their own show those, in reading order.
            if (t.text.empty()) {
                std::vector<std::shared_ptr<UILabel>> labels;
                std::function<void(const std::shared_ptr<UIView>&)> collect = [&](const std::shared_ptr<UIView>& v) {
                    if (v->isHidden()) return;
                    if (auto l = std::dynamic_pointer_cast<UILabel>(v); l && !l->text().empty()) labels.push_back(l);
                    for (const auto& sub : v->subviews()) collect(sub);
                };
                collect(cell->contentView());
                std::stable_sort(labels.begin(), labels.end(), [&](const auto& a, const auto& b) {
                    const CGRect ra = a->convertRectToView(a->bounds(), window);
                    const CGRect rb = b->convertRectToView(b->bounds(), window);
                    if (std::floor(ra.origin.y) != std::floor(rb.origin.y)) return ra.origin.y < rb.origin.y;
                    return ra.origin.x < rb.origin.x;
                });
                if (!labels.empty()) {
                    t.text = labels.front()->text();
                    text = "row";
                    for (const auto& l : labels) text += " " + quoted(l->text());
                }
            }
            // Buttons a person can touch inside the row come after it on its line.
            std::vector<std::shared_ptr<UIView>> buttons;
            std::function<void(const std::shared_ptr<UIView>&)> collectButtons = [&](const std::shared_ptr<UIView>& v) {
                if (v->isHidden() || v->alpha() <= 0 || !v->isUserInteractionEnabled()) return;
                if (std::dynamic_pointer_cast<UIButton>(v)) {
                    buttons.push_back(v);
                    return;
                }
                for (const auto& sub : v->subviews()) collectButtons(sub);
            };
            collectButtons(cell->contentView());
            if (!buttons.empty()) {
                std::sort(buttons.begin(), buttons.end(), [&](const auto& a, const auto& b) {
                    return a->convertRectToView(a->bounds(), window).origin.x <
                           b->convertRectToView(b->bounds(), window).origin.x;
                });
                const std::string marker = "\x01" + std::to_string(rowButtons_.size()) + "\x01";
                rowButtons_.push_back({marker, std::move(buttons)});
                text += marker;
            }
            skip = true;
        } else {
            const auto first = text.find('"');
            const auto last = text.find('"', first == std::string::npos ? 0 : first + 1);
            if (first != std::string::npos && last != std::string::npos) t.text = text.substr(first + 1, last - first - 1);
        }
        if (t.text.empty() && !skip) {
            // Areas and plain controls take the text of the first label inside them.
            std::function<std::string(const std::shared_ptr<UIView>&)> firstText =
                [&](const std::shared_ptr<UIView>& v) -> std::string {
                if (auto l = std::dynamic_pointer_cast<UILabel>(v))
                    if (!l->text().empty()) return l->text();
                for (const auto& s : v->subviews()) {
                    auto found = firstText(s);
                    if (!found.empty()) return found;
                }
                return "";
            };
            t.text = firstText(view);
        }
        const int n = number(t);
        line(depth, "[" + std::to_string(n) + "] " + text);
        childDepth = depth + 1;
    } else if (!text.empty()) {
        line(depth, text);
    }
    if (skip) return;
    auto subviews = view->subviews();
    std::stable_sort(subviews.begin(), subviews.end(), [&](const auto& a, const auto& b) {
        const CGRect ra = a->convertRectToView(a->bounds(), window);
        const CGRect rb = b->convertRectToView(b->bounds(), window);
        if (std::floor(ra.origin.y) != std::floor(rb.origin.y)) return ra.origin.y < rb.origin.y;
        return ra.origin.x < rb.origin.x;
    });
    for (const auto& sub : subviews) walk(sub, window, childDepth);
}

bool SimScreen::isNumber(const std::string& target) {
    return !target.empty() &&
           std::all_of(target.begin(), target.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const SimTarget* SimScreen::find(const std::string& numberOrText) const {
    if (isNumber(numberOrText)) {
        // A number too large to read is no number on the screen either.
        std::size_t n = 0;
        const char* end = numberOrText.data() + numberOrText.size();
        const auto [at, error] = std::from_chars(numberOrText.data(), end, n);
        if (error == std::errc() && at == end && n >= 1 && n <= targets_.size()) return &targets_[n - 1];
        return nullptr;
    }
    for (const auto& t : targets_)
        if (t.text == numberOrText) return &t;
    for (const auto& t : targets_)
        if (!numberOrText.empty() && t.text.find(numberOrText) != std::string::npos) return &t;
    return nullptr;
}
