// Reading the view tree as a person would: top to bottom, left to right, skipping what
// cannot be seen, numbering what can be touched.
#include "simulator/SimScreen.h"

#include "simulator/SimSeen.h"

#include "platform/foundation/NSString.h"
#include "platform/widgets/BPMKNumberBadgeView.h"
#include "platform/widgets/MBProgressHUD.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIBarButtonItemView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UICollectionView.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UILongPressGestureRecognizer.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIPageControl.h"
#include "platform/ui/UIPageViewController.h"
#include "platform/ui/UIProgressView.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIScrollView.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UISwitch.h"
#include "platform/ui/UITabBarController.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UITextView.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UITouch.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "platform/web/WKWebLinkView.h"
#include "platform/web/WKWebTextView.h"
#include "platform/web/WKWebView.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <tuple>

namespace {

// Characters that are not seen yet move, break or hide the text around them.
bool unseen(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xAD || c == 0x61C || c == 0x180E || c == 0x200B ||
           (c >= 0x200E && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) ||
           c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) || c == 0xE0001 || (c >= 0xE0020 && c <= 0xE007F);
}

}  // namespace

std::string simPrintable(const std::string& text, bool quotes) {
    std::string out;
    out.reserve(text.size());
    char escape[16];
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t from = at;
        const char32_t c = NSString::nextCodePoint(text, at);
        if (c == 0xFFFD && at - from == 1) {
            // A byte that starts no character.
            std::snprintf(escape, sizeof escape, "\\x{%02X}", static_cast<unsigned char>(text[from]));
            out += escape;
        } else if (c == '\n' || c == '\t' || c == '\r') {
            out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
        } else if (unseen(c)) {
            std::snprintf(escape, sizeof escape, "\\u{%04X}", static_cast<unsigned>(c));
            out += escape;
        } else if (quotes && (c == '"' || c == '\\')) {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out.append(text, from, at - from);
        }
    }
    return out;
}

namespace {

// No screen shows more text than this many characters; a longer text is cut there.
constexpr std::size_t kScreenfulOfCharacters = 4000;

std::string screenful(const std::string& s) {
    if (s.size() <= kScreenfulOfCharacters) return simPrintable(s);  // never more characters than bytes
    std::size_t at = 0;
    for (std::size_t count = 0; at < s.size() && count < kScreenfulOfCharacters; ++count) NSString::nextCodePoint(s, at);
    return at < s.size() ? simPrintable(s.substr(0, at)) + "\u2026" : simPrintable(s);
}

std::string quoted(const std::string& s) { return "\"" + screenful(s) + "\""; }

// A picture by its file's name: where the file lies is no concern of the screen.
std::string pictureName(const UIImage& picture) { return screenful(NSString::lastPathComponent(picture.name())); }

std::string numberText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

CGRect inWindow(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window) {
    return view->convertRectToView(view->bounds(), window);
}

bool visibleIn(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window) {
    if (!simSeen(*view)) return false;
    return CGRectIntersectsRect(inWindow(view, window), window->bounds()) || view->bounds().size.width == 0;
}

// Reading order: rows top to bottom, left to right within a row.
void sortForReading(std::vector<std::shared_ptr<UIView>>& views, const std::shared_ptr<UIWindow>& window) {
    std::stable_sort(views.begin(), views.end(), [&](const auto& a, const auto& b) {
        const CGRect ra = inWindow(a, window);
        const CGRect rb = inWindow(b, window);
        if (std::floor(ra.origin.y) != std::floor(rb.origin.y)) return ra.origin.y < rb.origin.y;
        return ra.origin.x < rb.origin.x;
    });
}

// Whether `view`, or something inside it, paints an opaque colour over all of `rect`.
bool paintsOver(const std::shared_ptr<UIView>& view, const CGRect& rect, const std::shared_ptr<UIWindow>& window) {
    if (view->isHidden() || view->alpha() < 0.99) return false;
    if (!CGRectContainsRect(inWindow(view, window), rect)) return false;
    if (auto background = view->backgroundColor(); background && background->alpha() >= 0.99) return true;
    for (const auto& sub : view->subviews())
        if (paintsOver(sub, rect, window)) return true;
    return false;
}

// The texts of the labels inside `view` that can be seen, in reading order.
std::vector<std::string> labelTexts(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window) {
    std::vector<std::shared_ptr<UIView>> labels;
    std::function<void(const std::shared_ptr<UIView>&)> collect = [&](const std::shared_ptr<UIView>& v) {
        if (!simSeen(*v)) return;
        if (auto l = std::dynamic_pointer_cast<UILabel>(v); l && !l->text().empty()) labels.push_back(l);
        for (const auto& sub : v->subviews()) collect(sub);
    };
    collect(view);
    sortForReading(labels, window);
    std::vector<std::string> texts;
    for (const auto& l : labels) texts.push_back(std::static_pointer_cast<UILabel>(l)->text());
    return texts;
}

// A view a person can tap or press: it has a tap or long-press recogniser that would take a
// touch there now. Views that only pan (the side menu's edges) are not listed; a drag reaches
// them by position.
bool invitesTouch(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window) {
    if (!view->isUserInteractionEnabled()) return false;
    for (const auto& recognizer : view->gestureRecognizers()) {
        if (!recognizer->isEnabled()) continue;
        if (!std::dynamic_pointer_cast<UITapGestureRecognizer>(recognizer) &&
            !std::dynamic_pointer_cast<UILongPressGestureRecognizer>(recognizer))
            continue;
        const CGRect r = inWindow(view, window);
        auto touch = UITouch::make(window, view, {CGRectGetMidX(r), CGRectGetMidY(r)}, 1, 0);
        if (recognizer->shouldReceiveTouch(*touch)) return true;
    }
    return false;
}

// Every controller on screen: roots, their children and what they present, and the
// controllers whose views are in the window without being anyone's child (an active search
// laid over the screen it searches, and what it presents).
void controllersOf(const std::shared_ptr<UIViewController>& vc, std::vector<std::shared_ptr<UIViewController>>& out) {
    if (!vc || std::find(out.begin(), out.end(), vc) != out.end()) return;
    out.push_back(vc);
    for (const auto& child : vc->childViewControllers()) controllersOf(child, out);
    controllersOf(vc->presentedViewController(), out);
}

void controllersIn(const std::shared_ptr<UIView>& view, std::vector<std::shared_ptr<UIViewController>>& out) {
    if (auto vc = std::dynamic_pointer_cast<UIViewController>(view->viewController())) controllersOf(vc, out);
    for (const auto& sub : view->subviews()) controllersIn(sub, out);
}

// A button's name as a person reads it: its title; for an image, what it does (its
// accessibility label) and never the image's file; a count it shows comes after its name.
std::string buttonName(const std::string& title, const std::string& label, bool image) {
    if (!label.empty()) {
        const std::size_t from = title.find_first_not_of(' '), to = title.find_last_not_of(' ');
        const std::string shown = from == std::string::npos ? std::string() : title.substr(from, to - from + 1);
        return shown.empty() || shown == label ? label : label + " (" + shown + ")";
    }
    if (!title.empty()) return title;
    return image ? "image" : "";
}

std::string itemText(const std::shared_ptr<UIBarButtonItem>& item) {
    std::string t;
    if (auto b = std::dynamic_pointer_cast<UIButton>(item->customView()))
        t = buttonName(b->currentTitle(), accessibilityLabel(*b), b->currentImage() || b->currentBackgroundImage());
    else
        t = buttonName(item->image() ? item->title() : item->displayTitle(), accessibilityLabel(*item), item->image() != nullptr);
    return t.empty() ? "item" : t;
}

// "badge N" for a number badge showing on the item's view, "" otherwise.
std::string itemBadge(const std::shared_ptr<UIBarButtonItem>& item) {
    std::function<std::string(const std::shared_ptr<UIView>&)> find = [&](const std::shared_ptr<UIView>& view) -> std::string {
        if (!view || view->isHidden()) return "";
        if (auto badge = std::dynamic_pointer_cast<BPMKNumberBadgeView>(view))
            return badge->text().empty() ? "" : "badge " + screenful(badge->text());
        for (const auto& sub : view->subviews())
            if (auto found = find(sub); !found.empty()) return found;
        return "";
    };
    return find(item->customView());
}

// Whether a screen's view lies directly inside `view`.
bool holdsScreen(const UIView& view) {
    const auto& subs = view.subviews();
    return std::any_of(subs.begin(), subs.end(), [](const auto& sub) { return sub->viewController() != nullptr; });
}

// The cancel button beside a search bar is a control of its own.
SimTarget searchCancelTarget(const UISearchBar& bar, int nesting) {
    SimTarget cancel;
    cancel.view = bar.cancelButton();
    cancel.depth = nesting;
    cancel.texts = {"Cancel"};
    cancel.line = "Cancel";
    return cancel;
}

// A field's states: its placeholder while empty, and whether it is taking typing.
void addFieldStates(std::vector<std::string>& states, const std::string& text, const std::string& placeholder,
                    bool typing) {
    if (text.empty() && !placeholder.empty()) states.push_back("placeholder " + quoted(placeholder));
    if (typing) states.push_back("typing");
}

// "on" for an element that shows itself on (ticked, lit, selected), "off" for one that turns on
// and off and shows itself off, its value where it shows more than on or off ("all"), nothing
// for the rest: as the element says of itself.
void addToggleState(std::vector<std::string>& states, const NSObject& element, bool on = false) {
    if (const std::string value = accessibilityValue(element); !value.empty()) {
        states.push_back(screenful(value));
        return;
    }
    const UIAccessibilityTraits traits = accessibilityTraits(element);
    if (on || (traits & UIAccessibilityTraitSelected)) states.push_back("on");
    else if (traits & UIAccessibilityTraitToggleButton) states.push_back("off");
}

// A bar item's state: its button's, where it shows one, else its own.
void addItemState(std::vector<std::string>& states, const UIBarButtonItem& item) {
    if (auto button = std::dynamic_pointer_cast<UIButton>(item.customView()))
        addToggleState(states, *button, button->isSelected());
    else
        addToggleState(states, item);
}

// The states as the screen writes them after a name: " (disabled) (on)". Every parenthesised
// word after a control's name is written here, from the states `tap` matches what is typed to.
std::string statesText(const std::vector<std::string>& states) {
    std::string t;
    for (const auto& state : states) t += " (" + state + ")";
    return t;
}

bool isInfoButton(const UIButton& button) {
    return button.buttonType() == UIButtonTypeInfoDark || button.buttonType() == UIButtonTypeInfoLight ||
           button.buttonType() == UIButtonTypeDetailDisclosure;
}

}  // namespace

SimScreen SimScreen::capture(SimNumbering* numbering) {
    SimScreen screen;
    auto app = UIApplication::sharedApplication();
    if (!app) {
        screen.finishNumbers(numbering);
        return screen;
    }
    // In the background the application shows nothing; its controls keep their numbers for
    // its return.
    if (app->applicationState() == UIApplicationState::Background) {
        screen.line(0, "(the application is in the background; foreground brings it back)");
        screen.finishNumbers(nullptr);
        return screen;
    }
    auto windows = app->windows();
    auto key = app->keyWindow();
    std::stable_sort(windows.begin(), windows.end(), [&](const auto& a, const auto& b) {
        if (a->windowLevel() != b->windowLevel()) return a->windowLevel() < b->windowLevel();
        return a != key && b == key;
    });
    for (const auto& window : windows) {
        // Windows of external screens are listed with their screen, below.
        if (window->isHidden() || window->screen() != UIScreen::mainScreen()) continue;
        std::vector<std::shared_ptr<UIViewController>> controllers;
        controllersOf(window->rootViewController(), controllers);
        controllersIn(window, controllers);
        for (const auto& vc : controllers) {
            auto nav = std::dynamic_pointer_cast<UINavigationController>(vc);
            if (!nav || !nav->isViewLoaded()) continue;
            screen.bars_.push_back({nav->navigationBar().get(), nav});
        }
        screen.walk(window, window, 0, 0);
    }
    screen.externalScreens(windows);
    screen.alerts();
    screen.finishNumbers(numbering);
    return screen;
}

void SimScreen::externalScreens(const std::vector<std::shared_ptr<UIWindow>>& windows) {
    const auto screens = UIScreen::screens();
    for (std::size_t i = 1; i < screens.size(); ++i) {
        const CGRect bounds = screens[i]->bounds();
        std::string shown = "nothing shown";
        for (const auto& window : windows) {
            if (window->isHidden() || window->screen() != screens[i]) continue;
            const auto views = window->subviews();
            if (views.empty()) continue;
            // What is on top: an image by its file, else the view's kind.
            auto image = std::dynamic_pointer_cast<UIImageView>(views.back());
            auto picture = image ? image->currentImage() : nullptr;
            shown = picture && !picture->name().empty() ? "image " + pictureName(*picture) : views.back()->className();
        }
        line(0, "-- external screen " + numberText(bounds.size.width) + "x" + numberText(bounds.size.height) + ": " +
                    shown);
    }
}

std::vector<std::shared_ptr<NSObject>> SimScreen::alertsUp() {
    std::vector<std::shared_ptr<NSObject>> up;
    for (const auto& alert : UIAlertModality::alerts()) {
        // An alert controller is up once its view is in a window.
        auto controller = std::dynamic_pointer_cast<UIAlertController>(alert);
        if (controller ? controller->isViewLoaded() && controller->view()->window()
                       : std::dynamic_pointer_cast<UIAlertView>(alert) != nullptr)
            up.push_back(alert);
    }
    return up;
}

void SimScreen::alerts() {
    struct Shown {
        std::shared_ptr<NSObject> alert;
        std::string kind, title, message;
        std::vector<std::shared_ptr<UITextField>> fields;
        // Each button's view and title, and whether it can be pressed.
        std::vector<std::tuple<std::shared_ptr<UIView>, std::string, bool>> buttons;
    };
    std::vector<Shown> shown;
    for (const auto& alert : alertsUp()) {
        Shown s;
        s.alert = alert;
        if (auto view = std::dynamic_pointer_cast<UIAlertView>(alert)) {
            s.kind = "alert";
            s.title = view->title();
            s.message = view->message();
            for (long i = 0; i < view->numberOfButtons(); ++i)
                s.buttons.emplace_back(view->buttonAtIndex(i), view->buttonTitleAtIndex(i), true);
        } else if (auto controller = std::dynamic_pointer_cast<UIAlertController>(alert)) {
            s.kind = controller->preferredStyle() == UIAlertControllerStyle::ActionSheet ? "sheet" : "alert";
            s.title = controller->title();
            s.message = controller->message();
            s.fields = controller->textFields();
            for (std::size_t i = 0; i < controller->actions().size(); ++i)
                s.buttons.emplace_back(controller->viewForActionAtIndex(i), controller->actions()[i]->title(),
                                       controller->actions()[i]->isEnabled());
        }
        shown.push_back(std::move(s));
    }
    if (!shown.empty()) alertInFront_ = shown.back().alert;
    // The newest is in front and alone takes touches; the others wait for it to go.
    for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
        const bool front = it == shown.rbegin();
        const std::string heading = it->title.empty() ? it->kind : it->kind + ": " + screenful(it->title);
        line(0, front ? "== " + heading + " ==" : "== waiting behind it: " + heading + " ==");
        if (!it->message.empty()) line(1, screenful(it->message));
        for (const auto& field : it->fields) {
            if (front) {
                bool skip = false;
                (void)listControl(field, field->window(), 1, 0, skip);
                continue;
            }
            bool numbered = false, skip = false;
            std::vector<std::string> texts, states;
            std::string role;
            line(1, describe(field, field->window(), numbered, skip, texts, states, role));
        }
        if (!front) {
            waitingAlerts_.insert(it->alert.get());
            std::string titles;
            for (const auto& button : it->buttons) titles += (titles.empty() ? "" : ", ") + screenful(std::get<1>(button));
            if (!titles.empty()) line(1, "(its buttons once it is in front: " + titles + ")");
            continue;
        }
        for (const auto& [view, title, enabled] : it->buttons) {
            if (!view) continue;
            SimTarget t;
            t.view = view;
            t.texts = {title};
            if (!enabled) t.states.push_back("disabled");
            t.line = screenful(title) + statesText(t.states);
            const std::string shownLine = t.line;
            line(1, number(std::move(t), "alert", it->alert) + " " + shownLine);
        }
    }
}

void SimScreen::line(int depth, const std::string& text) {
    text_ += std::string(static_cast<std::size_t>(depth) * 2, ' ') + text + "\n";
}

namespace {

// Marks a number's place in the text until the numbers are known; neither byte is in a text.
constexpr char kMarkOpen = '\x1e';
constexpr char kMarkClose = '\x1f';

// Containers that show one screen at a time of those they hold: each of theirs is a screen.
bool holdsScreens(const UIViewController& vc) {
    return dynamic_cast<const UINavigationController*>(&vc) || dynamic_cast<const UISplitViewController*>(&vc) ||
           dynamic_cast<const UITabBarController*>(&vc);
}

std::shared_ptr<UIViewController> nearestController(const std::shared_ptr<UIView>& view) {
    for (auto v = view; v; v = v->superview())
        if (auto vc = std::dynamic_pointer_cast<UIViewController>(v->viewController())) return vc;
    return nullptr;
}

// The screen a view is on: the controller showing it, or the one holding that as a part (a
// pager's page is the pager's); a navigation stack's bars are its top screen's. A view no
// controller shows is on its window's screen.
std::shared_ptr<NSObject> screenOfView(const std::shared_ptr<UIView>& view) {
    auto vc = nearestController(view);
    if (!vc) return view ? view->window() : nullptr;
    if (auto nav = std::dynamic_pointer_cast<UINavigationController>(vc); nav && nav->topViewController())
        vc = nav->topViewController();
    for (auto parent = vc->parentViewController(); parent && !holdsScreens(*parent); parent = vc->parentViewController())
        vc = parent;
    return vc;
}

// The part of a screen a controller's views are: a pager's pages come and go in one place, so
// what is on them is the pager's.
std::shared_ptr<UIViewController> pagerOf(std::shared_ptr<UIViewController> vc) {
    for (auto parent = vc->parentViewController(); std::dynamic_pointer_cast<UIPageViewController>(parent);
         parent = vc->parentViewController())
        vc = parent;
    return vc;
}

// How a screen lies over others: an alert or a sheet, or a view laid on the window by no screen
// (the busy overlay), floats over whatever shows; a screen presented over another lies over it;
// the rest are the screens themselves.
enum class Layer { Screen, Presented, Floating };

Layer layerOf(const std::shared_ptr<NSObject>& screen) {
    auto vc = std::dynamic_pointer_cast<UIViewController>(screen);
    if (!vc || std::dynamic_pointer_cast<UIAlertController>(vc)) return Layer::Floating;
    for (; vc; vc = vc->parentViewController())
        if (vc->presentingViewController()) return Layer::Presented;
    return Layer::Screen;
}

}  // namespace

std::string SimScreen::number(SimTarget target, const std::string& role, std::shared_ptr<NSObject> screen,
                              const std::string& name) {
    Identity identity;
    SimNumbering::Control& id = identity.control;
    auto owner = nearestController(target.view);
    identity.controllerView = owner && owner->viewIfLoaded() == target.view;
    id.screen = screen ? std::move(screen) : screenOfView(target.view);
    // A stack's bars belong to the screen on top of it.
    id.part = owner && !holdsScreens(*owner) ? std::static_pointer_cast<NSObject>(pagerOf(owner)) : id.screen;
    // What it is: its role and what it is called or shows. A search bar is not the bar button
    // that opened it, though both read "search".
    id.key = role + ":";
    if (!name.empty()) id.key += name;
    else
        for (const auto& text : target.texts) id.key += text + "\x1f";
    id.loose = role + ":" + (!name.empty() ? name : target.texts.empty() ? std::string() : target.texts.front());
    if (role != "row" && role != "cell")
        id.object = target.object ? target.object : std::shared_ptr<const void>(target.view);
    // Inside a control of the same screen part, what encloses it is part of what it is (a row's
    // button is that row's); a controller's own view (one that takes a tap anywhere on it) holds
    // its controls without their being its parts.
    const auto level = static_cast<std::size_t>(std::max(0, target.depth));
    if (level > 0 && level <= enclosing_.size()) {
        const Identity& around = enclosing_[level - 1];
        if (around.control.part == id.part && !around.controllerView && around.control.screen == id.screen) {
            id.around = around.control.key;
            id.key = around.control.key + " > " + id.key;
            id.loose = around.control.loose + " > " + id.loose;
        }
    }
    enclosing_.resize(level + 1);
    enclosing_[level] = identity;
    target.screen = id.screen;
    identities_.push_back(std::move(identity));
    targets_.push_back(std::move(target));
    numbers_.push_back(0);
    return kMarkOpen + std::to_string(targets_.size()) + kMarkClose;
}

void SimScreen::finishNumbers(SimNumbering* numbering) {
    // Without a numbering to follow, every control is new: numbered in reading order.
    SimNumbering fresh;
    // What an overlay lies over: a presented screen over the screens listed with it (none where
    // it covers them all), an alert or the busy overlay over every part listed that floats not.
    std::vector<Layer> layers;
    std::vector<std::shared_ptr<NSObject>> screens, all;
    auto addOnce = [](std::vector<std::shared_ptr<NSObject>>& parts, const std::shared_ptr<NSObject>& part) {
        if (std::find(parts.begin(), parts.end(), part) == parts.end()) parts.push_back(part);
    };
    for (const auto& identity : identities_) {
        layers.push_back(layerOf(identity.control.screen));
        if (layers.back() != Layer::Floating) addOnce(all, identity.control.part);
        if (layers.back() == Layer::Screen) addOnce(screens, identity.control.part);
    }
    std::vector<SimNumbering::Control> controls;
    controls.reserve(identities_.size());
    for (std::size_t i = 0; i < identities_.size(); ++i) {
        if (layers[i] == Layer::Presented) identities_[i].control.beneath = screens;
        if (layers[i] == Layer::Floating) identities_[i].control.beneath = all;
        controls.push_back(std::move(identities_[i].control));
    }
    identities_.clear();
    enclosing_.clear();
    numbers_ = (numbering ? *numbering : fresh).give(std::move(controls), waitingAlerts_);
    if (numbering) numbering->alertInFront = alertInFront_;
    // The marks become the numbers.
    std::string out;
    out.reserve(text_.size());
    for (std::size_t at = 0; at < text_.size();) {
        const std::size_t open = text_.find(kMarkOpen, at);
        if (open == std::string::npos) {
            out.append(text_, at, std::string::npos);
            break;
        }
        const std::size_t close = text_.find(kMarkClose, open);
        out.append(text_, at, open - at);
        const std::size_t index = std::stoul(text_.substr(open + 1, close - open - 1));
        out += "[" + std::to_string(numbers_[index - 1]) + "]";
        at = close + 1;
    }
    text_ = std::move(out);
}

void SimScreen::navigationBar(const std::shared_ptr<UINavigationController>& nav, int depth, int nesting) {
    auto top = nav->topViewController();
    if (!top) return;
    auto item = top->navigationItem();
    std::string title = screenful(item->title().empty() ? top->title() : item->title());
    // A title view of labels (a player's author and composition) reads as its texts.
    if (title.empty() && item->titleView() && !std::dynamic_pointer_cast<UISegmentedControl>(item->titleView())) {
        for (const auto& sub : item->titleView()->subviews()) {
            auto label = std::dynamic_pointer_cast<UILabel>(sub);
            if (!label || label->text().empty()) continue;
            title += (title.empty() ? "" : " / ") + screenful(label->text());
        }
    }
    // A bar without a title shows its buttons alone.
    if (!title.empty()) line(depth, "== " + title + " ==");
    std::string row = title.empty() ? "-- bar: " : "";
    auto bar = nav->navigationBar();
    bar->layoutIfNeeded();
    if (auto back = bar->backButton(); back && nav->showsBackButton()) {
        SimTarget t;
        t.view = back;
        t.texts = {nav->backButtonTitle()};
        t.line = "< " + screenful(nav->backButtonTitle());
        t.depth = nesting;
        const std::string shown = t.line;
        row += number(t, "back") + " " + shown + "  ";
    }
    auto addItems = [&](const std::vector<std::shared_ptr<UIBarButtonItem>>& items, const std::string& role) {
        for (const auto& it : items) {
            if (it->isSpace()) continue;
            row += barItem(it, bar->viewForItem(it), nesting, role);
        }
    };
    addItems(item->leftBarButtonItems(), "left");
    // A segmented control in the title's place reads like one in a toolbar.
    if (auto seg = std::dynamic_pointer_cast<UISegmentedControl>(item->titleView())) row += segments(seg, nesting, "title");
    if (!item->rightBarButtonItems().empty()) {
        row += "| ";
        auto right = item->rightBarButtonItems();
        std::reverse(right.begin(), right.end());  // outermost first in the list, shown last
        addItems(right, "right");
    }
    if (!title.empty() && !row.empty()) line(depth + 1, row);
    else if (title.empty() && row != "-- bar: ") line(depth, row);
}

std::string SimScreen::toolbarRow(const std::shared_ptr<UIToolbar>& toolbar, int nesting) {
    toolbar->layoutIfNeeded();
    std::string row = "-- toolbar: ";
    for (const auto& it : toolbar->items()) {
        if (it->isSpace()) continue;
        row += barItem(it, toolbar->viewForItem(it), nesting, "toolbar");
    }
    return row;
}

std::string SimScreen::segments(const std::shared_ptr<UISegmentedControl>& seg, int nesting, const std::string& role) {
    std::string row;
    for (std::size_t i = 0; i < seg->numberOfSegments(); ++i) {
        SimTarget t;
        t.view = seg;
        t.buttonIndex = static_cast<long>(i);
        t.depth = nesting;
        const std::string title = screenful(seg->titleForSegmentAtIndex(i));
        t.texts = {seg->titleForSegmentAtIndex(i)};
        const bool on = static_cast<int>(i) == seg->selectedSegmentIndex();
        t.line = on ? "<" + title + ">" : title;
        const std::string shown = t.line;
        row += number(t, role + " segment") + " " + shown + "  ";
    }
    return row;
}

std::string SimScreen::barItem(const std::shared_ptr<UIBarButtonItem>& it, const std::shared_ptr<UIView>& view,
                               int nesting, const std::string& role) {
    // A button hidden inside its item cannot be seen or tapped, nor one the bar does not show.
    if (!view || view->isHidden()) return "";
    if (auto seg = std::dynamic_pointer_cast<UISegmentedControl>(it->customView())) return segments(seg, nesting, role);
    // A search field in a bar is typed into and cancelled like any other.
    if (auto bar = std::dynamic_pointer_cast<UISearchBar>(it->customView())) {
        SimTarget t;
        t.view = bar;
        t.texts = {bar->placeholder(), "search"};
        t.depth = nesting;
        addFieldStates(t.states, bar->text(), bar->placeholder(), bar->isFirstResponder());
        t.line = "search " + quoted(bar->text()) + statesText(t.states);
        const std::string shown = t.line;
        std::string row = number(t, role + " search") + " " + shown + "  ";
        if (bar->cancelButton()) row += number(searchCancelTarget(*bar, nesting), role + " search cancel") + " Cancel  ";
        return row;
    }
    SimTarget t;
    t.view = view;
    t.texts = {itemText(it)};
    t.depth = nesting;
    if (const std::string badge = itemBadge(it); !badge.empty()) t.states.push_back(badge);
    if (!it->isEnabled()) t.states.push_back("disabled");
    addItemState(t.states, *it);
    t.line = screenful(itemText(it)) + statesText(t.states);
    t.object = it;
    const std::string shown = t.line;
    auto button = std::dynamic_pointer_cast<UIButton>(it->customView());
    return number(t, role, nullptr, accessibilityLabel(button ? static_cast<const NSObject&>(*button) : *it)) + " " +
           shown + "  ";
}

namespace {

// A row reads as its texts in reading order (its own labels, or a layout's labels).
std::string rowLine(const std::shared_ptr<UITableViewCell>& cell, const std::shared_ptr<UIWindow>& window,
                    std::vector<std::string>& texts, std::vector<std::string>& states) {
    texts = labelTexts(cell->contentView(), window);
    std::string t = "row";
    for (const auto& text : texts) t += " " + quoted(text);
    if (texts.empty()) t += " " + quoted("");
    // A text beside the row (a count waiting to be seen) is its badge.
    if (auto accessory = cell->accessoryView(); accessory && !accessory->isHidden() && accessory->superview())
        for (const auto& text : labelTexts(accessory, window)) states.push_back("badge " + quoted(text));
    if (cell->reorderControl()) states.push_back("movable");
    addToggleState(states, *cell, cell->accessoryType() == UITableViewCellAccessoryCheckmark);
    if ((cell->isSelected() || cell->isHighlighted()) && cell->selectionStyle() != UITableViewCellSelectionStyleNone)
        states.push_back("selected");
    return t + statesText(states);
}

// A grid cell reads as its picture's title, then the signs laid over it.
std::string gridCellLine(const std::shared_ptr<UICollectionViewCell>& cell, const std::shared_ptr<UIWindow>& window,
                         std::vector<std::string>& texts) {
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
    if (const std::string title = accessibilityLabel(*cell); !title.empty()) {
        t += " " + quoted(title);
        texts.push_back(title);
    }
    for (std::size_t i = 1; i < pictures.size(); ++i)
        if (!pictures[i].empty()) t += " +" + screenful(pictures[i]);
    if (busy) t += " (busy)";
    for (const auto& text : labelTexts(cell, window)) texts.push_back(text);
    return t;
}

}  // namespace

std::string SimScreen::describe(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window,
                                bool& numbered, bool& skipChildren, std::vector<std::string>& texts,
                                std::vector<std::string>& states, std::string& role) {
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
    // A bar's button met outside the bars the screen lists as rows.
    if (auto button = std::dynamic_pointer_cast<UIBarButtonItemView>(view)) {
        numbered = true;
        skipChildren = true;
        role = button->isBackButton() ? "back" : "bar";
        texts = {itemText(button->item())};
        return (button->isBackButton() ? "< " : "") + screenful(texts.front());
    }
    if (auto field = std::dynamic_pointer_cast<UITextField>(view)) {
        numbered = true;
        skipChildren = true;
        role = "field";
        // Tapped by what it asks for, not by what was typed into it (a match below may show that).
        texts = {field->placeholder(), "field"};
        addFieldStates(states, field->text(), field->placeholder(), field->isFirstResponder());
        return "field " + quoted(field->text()) + statesText(states);
    }
    if (auto bar = std::dynamic_pointer_cast<UISearchBar>(view)) {
        numbered = true;
        skipChildren = true;
        role = "search";
        texts = {bar->placeholder(), "search"};
        addFieldStates(states, bar->text(), bar->placeholder(), bar->isFirstResponder());
        return "search " + quoted(bar->text()) + statesText(states);
    }
    if (auto area = std::dynamic_pointer_cast<UITextView>(view)) {
        // Typed into when editable; otherwise text to read.
        skipChildren = true;
        if (!area->isEditable()) return area->text().empty() ? "" : quoted(area->text());
        numbered = true;
        role = "text";
        texts = {"text"};
        if (area->isFirstResponder()) states.push_back("typing");
        return "text " + quoted(area->text()) + statesText(states);
    }
    if (auto link = std::dynamic_pointer_cast<WKWebLinkView>(view)) {
        numbered = true;
        skipChildren = true;
        role = "link";
        texts = {link->linkText()};
        return "link " + quoted(link->linkText());
    }
    if (auto button = std::dynamic_pointer_cast<UIButton>(view)) {
        numbered = true;
        role = "button";
        // A button spread under another screen (the dimmed area that closes a detail panel)
        // has that screen's controls inside it.
        skipChildren = !holdsScreen(*button);
        std::string t = buttonName(button->currentTitle(), accessibilityLabel(*button),
                                   button->currentImage() || button->currentBackgroundImage());
        if ((t.empty() || t == "image") && isInfoButton(*button)) t = "info";
        texts = {t};
        if (!button->currentTitle().empty() && button->currentTitle() != t) texts.push_back(button->currentTitle());
        if (!button->isEnabled()) states.push_back("disabled");
        addToggleState(states, *button, button->isSelected());
        return "button " + quoted(t) + statesText(states);
    }
    if (auto sw = std::dynamic_pointer_cast<UISwitch>(view)) {
        numbered = true;
        skipChildren = true;
        role = "switch";
        texts = {"switch"};
        return std::string("switch ") + (sw->isOn() ? "on" : "off");
    }
    if (auto slider = std::dynamic_pointer_cast<UISlider>(view)) {
        numbered = true;
        skipChildren = true;
        role = "slider";
        texts = {"slider"};
        states.push_back(numberText(slider->minimumValue()) + " to " + numberText(slider->maximumValue()));
        return "slider " + numberText(slider->value()) + statesText(states);
    }
    if (auto seg = std::dynamic_pointer_cast<UISegmentedControl>(view)) {
        numbered = true;
        skipChildren = true;
        role = "segments";
        std::string t = "segments";
        texts.push_back("segments");
        for (std::size_t i = 0; i < seg->numberOfSegments(); ++i) {
            const bool on = static_cast<int>(i) == seg->selectedSegmentIndex();
            t += std::string(" ") + (on ? "<" : "") + screenful(seg->titleForSegmentAtIndex(i)) + (on ? ">" : "");
            texts.push_back(seg->titleForSegmentAtIndex(i));
        }
        return t;
    }
    if (auto pages = std::dynamic_pointer_cast<UIPageControl>(view)) {
        numbered = true;
        skipChildren = true;
        role = "pages";
        return "page " + std::to_string(pages->currentPage() + 1) + " of " + std::to_string(pages->numberOfPages());
    }
    if (auto progress = std::dynamic_pointer_cast<UIProgressView>(view)) {
        skipChildren = true;
        return "progress " + numberText(progress->progress());
    }
    if (auto spinner = std::dynamic_pointer_cast<UIActivityIndicatorView>(view))
        return spinner->isAnimating() ? "(busy)" : "";
    if (std::dynamic_pointer_cast<UIControl>(view)) {
        numbered = true;
        role = "control";
        texts = labelTexts(view, window);
        return "control";
    }
    if (auto block = std::dynamic_pointer_cast<WKWebTextView>(view)) {
        // One screen line: the lines of a paragraph run on. The size is in the points style
        // sheets write, then the family and alignment the page set.
        std::string text = block->text();
        std::replace(text.begin(), text.end(), '\n', ' ');
        std::string set = numberText(std::round(block->cssPointSize() * 10) / 10) + "pt";
        if (!block->textStyle().fontFamily.empty()) set += " " + screenful(block->textStyle().fontFamily);
        if (!block->alignmentName().empty()) set += ", " + screenful(block->alignmentName());
        return (block->headingLevel() ? "heading " : "page ") + quoted(text) + " (" + set + ")";
    }
    if (auto label = std::dynamic_pointer_cast<UILabel>(view)) return label->text().empty() ? "" : quoted(label->text());
    if (auto web = std::dynamic_pointer_cast<WKWebView>(view)) {
        // What it is called (its page's title) and whether a page is on its way, then its page
        // below it; where it was loaded from is no concern of the screen.
        const std::string name = accessibilityLabel(*web);
        std::string t = name.empty() ? "" : " " + quoted(name);
        if (web->isLoading()) t += " (loading)";
        return t.empty() ? "" : "web" + t;
    }
    if (auto image = std::dynamic_pointer_cast<UIImageView>(view)) {
        // What the picture shows where the view says, else the content's file it came from.
        if (const std::string name = accessibilityLabel(*image); !name.empty()) return "image " + quoted(name);
        auto img = image->currentImage();
        return img && !img->name().empty() ? "image " + pictureName(*img) : "";
    }
    if (auto cell = std::dynamic_pointer_cast<UITableViewCell>(view)) {
        numbered = true;
        skipChildren = true;
        role = "row";
        return rowLine(cell, window, texts, states);
    }
    if (auto cell = std::dynamic_pointer_cast<UICollectionViewCell>(view)) {
        numbered = true;
        skipChildren = true;
        role = "cell";
        return gridCellLine(cell, window, texts);
    }
    if (invitesTouch(view, window)) {
        // A view that takes taps says what it is by its traits (touched like a button, or a
        // picture) and what it does by its label; its own texts name it otherwise.
        numbered = true;
        const UIAccessibilityTraits traits = accessibilityTraits(*view);
        role = traits & UIAccessibilityTraitButton ? "button" : traits & UIAccessibilityTraitImage ? "picture" : "area";
        const std::string name = accessibilityLabel(*view);
        if (name.empty()) {
            texts = labelTexts(view, window);
            texts.push_back(role);
        } else {
            texts = {name};
        }
        return name.empty() ? role : role + " " + quoted(name);
    }
    return "";
}

bool SimScreen::listControl(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window, int depth,
                            int nesting, bool& skipChildren) {
    bool numbered = false;
    std::vector<std::string> texts, states;
    std::string role;
    const std::string text = describe(view, window, numbered, skipChildren, texts, states, role);
    if (!numbered) {
        if (!text.empty()) line(depth, text);
        return false;
    }
    SimTarget t;
    t.view = view;
    t.depth = nesting;
    t.line = text;
    t.states = std::move(states);
    for (auto& s : texts)
        if (!s.empty()) t.texts.push_back(std::move(s));
    std::string shown = number(std::move(t), role, nullptr, accessibilityLabel(*view)) + " " + text;
    if (auto bar = std::dynamic_pointer_cast<UISearchBar>(view); bar && bar->cancelButton())
        shown += "  " + number(searchCancelTarget(*bar, nesting), "search cancel") + " Cancel";
    line(depth, shown);
    return true;
}

std::vector<std::shared_ptr<UIView>> SimScreen::visibleSubviews(const std::shared_ptr<UIView>& view,
                                                                const std::shared_ptr<UIWindow>& window) const {
    const auto& all = view->subviews();
    std::vector<std::shared_ptr<UIView>> shown;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (!visibleIn(all[i], window)) continue;
        // A screen laid over another (a search's matches over the list) hides what is under it.
        const CGRect r = inWindow(all[i], window);
        bool covered = false;
        for (std::size_t j = i + 1; j < all.size() && !covered && !CGRectIsEmpty(r); ++j)
            covered = paintsOver(all[j], r, window);
        if (!covered) shown.push_back(all[i]);
    }
    sortForReading(shown, window);
    return shown;
}

void SimScreen::walkControls(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window, int depth,
                             int nesting) {
    for (const auto& sub : visibleSubviews(view, window)) {
        if (std::dynamic_pointer_cast<UIControl>(sub) || std::dynamic_pointer_cast<UISearchBar>(sub)) {
            bool skip = false;
            if (listControl(sub, window, depth, nesting, skip) && !skip)
                walkControls(sub, window, depth + 1, nesting + 1);
        } else {
            walkControls(sub, window, depth, nesting);
        }
    }
}

void SimScreen::walk(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIWindow>& window, int depth,
                     int nesting) {
    // What says nothing of itself (a backdrop) is only drawn.
    if (!visibleIn(view, window) || accessibilityElementsHidden(*view)) return;
    // An alert is listed with the alerts, in front of the screen, wherever its view lies.
    if (auto alert = std::dynamic_pointer_cast<UIAlertController>(view->viewController());
        alert && alert->viewIfLoaded() == view)
        return;
    for (const auto& [bar, nav] : bars_) {
        if (bar == view.get()) {
            navigationBar(nav, depth, nesting);
            return;
        }
    }
    if (auto toolbar = std::dynamic_pointer_cast<UIToolbar>(view)) {
        line(depth, toolbarRow(toolbar, nesting));
        return;
    }
    if (std::dynamic_pointer_cast<UIScrollView>(view)) scrollViews_.push_back(view);
    bool skip = false;
    const bool numbered = listControl(view, window, depth, nesting, skip);
    const int childDepth = numbered ? depth + 1 : depth;
    const int childNesting = numbered ? nesting + 1 : nesting;
    // The controls inside a row (its information button) are listed under it.
    if (std::dynamic_pointer_cast<UITableViewCell>(view)) {
        walkControls(view, window, childDepth, childNesting);
        return;
    }
    if (skip) return;
    for (const auto& sub : visibleSubviews(view, window)) walk(sub, window, childDepth, childNesting);
    // An empty list or grid says so, as the screen shows nothing there.
    if (auto table = std::dynamic_pointer_cast<UITableView>(view)) {
        long rows = 0;
        for (long s = 0; s < table->numberOfSections(); ++s) rows += table->numberOfRowsInSection(s);
        if (rows == 0) line(childDepth, "(empty list)");
    } else if (auto grid = std::dynamic_pointer_cast<UICollectionView>(view)) {
        long items = 0;
        for (long s = 0; s < grid->numberOfSections(); ++s) items += grid->numberOfItemsInSection(s);
        if (items == 0) line(childDepth, "(empty grid)");
    }
}

const SimTarget* SimScreen::withNumber(int number) const {
    for (std::size_t i = 0; i < numbers_.size(); ++i)
        if (numbers_[i] == number) return &targets_[i];
    return nullptr;
}

bool SimScreen::isNumber(const std::string& target) {
    return !target.empty() &&
           std::all_of(target.begin(), target.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const SimTarget* SimScreen::find(const std::string& numberOrText) const { return find(numberOrText, {}); }

std::vector<SimScreen::Named> SimScreen::namesWithStates(const std::string& text) {
    // Parenthesised words after a space, taken from the end one at a time; what comes before
    // them is the name.
    std::vector<Named> readings;
    std::vector<std::string> states;
    std::string name = text;
    while (name.size() >= 4 && name.back() == ')') {
        const std::size_t open = name.rfind(" (");
        if (open == std::string::npos || open == 0) break;
        std::string inside = name.substr(open + 2, name.size() - open - 3);
        if (inside.empty() || inside.find_first_of("()") != std::string::npos || name.find_first_not_of(' ') >= open)
            break;
        name.resize(open);
        states.insert(states.begin(), std::move(inside));
        readings.push_back({name, states});
    }
    return readings;
}

const SimTarget* SimScreen::find(const std::string& numberOrText, const std::vector<std::string>& states) const {
    const auto shows = [&](const SimTarget& t) {
        return std::all_of(states.begin(), states.end(), [&](const std::string& state) {
            return std::find(t.states.begin(), t.states.end(), state) != t.states.end();
        });
    };
    if (isNumber(numberOrText)) {
        // A number too large to read is no number on the screen either.
        std::size_t n = 0;
        const char* end = numberOrText.data() + numberOrText.size();
        const auto [at, error] = std::from_chars(numberOrText.data(), end, n);
        if (error == std::errc() && at == end && n >= 1 && n <= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
            const SimTarget* numbered = withNumber(static_cast<int>(n));
            return numbered && shows(*numbered) ? numbered : nullptr;
        }
        return nullptr;
    }
    if (numberOrText.empty()) return nullptr;
    // A control's line as the screen prints it, its number before it or not; the line up to its
    // states names it too, so that a state it does not show is told apart from nothing there.
    const auto listedAs = [](const SimTarget& t, const std::string& text) {
        if (t.line == text) return true;
        const std::string states = statesText(t.states);
        return !states.empty() && t.line.size() > states.size() && t.line.ends_with(states) &&
               t.line.compare(0, t.line.size() - states.size(), text) == 0;
    };
    if (const std::size_t close = numberOrText.find("] "); numberOrText.front() == '[' && close != std::string::npos &&
                                                           isNumber(numberOrText.substr(1, close - 1))) {
        const SimTarget* numbered = find(numberOrText.substr(1, close - 1), states);
        if (numbered && listedAs(*numbered, numberOrText.substr(close + 2))) return numbered;
    }
    auto deepest = [&](const std::function<bool(const SimTarget&)>& matches) -> const SimTarget* {
        const SimTarget* best = nullptr;
        for (const auto& t : targets_) {
            if ((best && t.depth <= best->depth) || !shows(t)) continue;
            if (matches(t)) best = &t;
        }
        return best;
    };
    const auto byText = [&](const std::function<bool(const std::string&)>& matches) {
        return deepest([&](const SimTarget& t) { return std::any_of(t.texts.begin(), t.texts.end(), matches); });
    };
    if (auto exact = byText([&](const std::string& s) { return s == numberOrText; })) return exact;
    if (auto listed = deepest([&](const SimTarget& t) { return listedAs(t, numberOrText); })) return listed;
    return byText([&](const std::string& s) { return s.find(numberOrText) != std::string::npos; });
}
