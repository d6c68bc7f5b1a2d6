// Carrying out simulator commands against the running application.
#include "simulator/SimSession.h"

#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"
#include "platform/net/URLNetwork.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIScrollView.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UISwitch.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UITextView.h"
#include "platform/ui/UIWindow.h"
#include "simulator/SimAdUnits.h"
#include "simulator/SimPurchase.h"
#include "simulator/SimRenderer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

namespace {

// Real time without news from a live transfer after which its reply is taken not to be on its
// way: a loopback answer comes well within it.
constexpr double kNetworkQuietSeconds = 0.25;
// How often the clock catches up with real time while a person's session waits for a line.
constexpr double kRealTimeSlice = 0.05;
// Real time one step of `advance` follows the network at most.
constexpr double kCatchUpSeconds = 15;

std::shared_ptr<UIWindow> keyWindow() {
    auto app = UIApplication::sharedApplication();
    return app ? app->keyWindow() : nullptr;
}

CGPoint centreInWindow(const std::shared_ptr<UIView>& view) {
    auto window = view->window();
    CGRect r = view->convertRectToView(view->bounds(), window);
    if (window) r = CGRectIntersection(r, window->bounds());
    return {CGRectGetMidX(r), CGRectGetMidY(r)};
}

// Whether a touch at `p` goes to `view`: the view under it is `view`, or lies inside it with no
// control of its own in between (a row's label passes its touch to the row; its button does not).
bool touchGoesTo(const std::shared_ptr<UIWindow>& window, const std::shared_ptr<UIView>& view, CGPoint p) {
    for (auto hit = window->hitTest(p, nullptr); hit; hit = hit->superview()) {
        if (hit == view) return true;
        if (std::dynamic_pointer_cast<UIControl>(hit) || !hit->gestureRecognizers().empty()) return false;
    }
    return false;
}

// Where a person touches `view`: its centre, or, when something of its own lies over the centre
// (a detail panel inside the dimmed button that closes it, a button in the middle of a row), a
// free spot along one of its edges.
CGPoint touchPointInWindow(const std::shared_ptr<UIView>& view) {
    const CGPoint centre = centreInWindow(view);
    auto window = view->window();
    if (!window || touchGoesTo(window, view, centre)) return centre;
    CGRect r = CGRectIntersection(view->convertRectToView(view->bounds(), window), window->bounds());
    const CGFloat inset = 4;
    const CGPoint edges[] = {{CGRectGetMidX(r), CGRectGetMinY(r) + inset},
                             {CGRectGetMidX(r), CGRectGetMaxY(r) - inset},
                             {CGRectGetMinX(r) + inset, CGRectGetMidY(r)},
                             {CGRectGetMaxX(r) - inset, CGRectGetMidY(r)}};
    for (const CGPoint& p : edges)
        if (touchGoesTo(window, view, p)) return p;
    return centre;
}

// The presented controller in front: the last one whose view a walk of the key window meets
// (a screen presented by an active search lies inside the screen searched, not above the root).
std::shared_ptr<UIViewController> topPresented() {
    auto window = keyWindow();
    if (!window) return nullptr;
    std::shared_ptr<UIViewController> top;
    std::function<void(const std::shared_ptr<UIView>&)> visit = [&](const std::shared_ptr<UIView>& v) {
        if (v->isHidden()) return;
        auto vc = std::dynamic_pointer_cast<UIViewController>(v->viewController());
        if (vc && vc->viewIfLoaded() == v && vc->presentingViewController()) top = vc;
        for (const auto& sub : v->subviews()) visit(sub);
    };
    visit(window);
    return top;
}

void collectNavigations(const std::shared_ptr<UIViewController>& vc, std::vector<std::shared_ptr<UINavigationController>>& out) {
    if (!vc || !vc->isVisible()) return;
    if (auto nav = std::dynamic_pointer_cast<UINavigationController>(vc)) out.push_back(nav);
    for (const auto& child : vc->childrenForAppearance()) collectNavigations(child, out);
    collectNavigations(vc->presentedViewController(), out);
}

}  // namespace

SimSession::SimSession(bool pad) {
    Clock::setManual();
    UIDevice::applyProfile(pad ? UIUserInterfaceIdiom::Pad : UIUserInterfaceIdiom::Phone);
    UIImage::setScreenScale(2.0);
}

SimSession::~SimSession() {
    if (external_) UIScreen::disconnectScreen(external_);
    if (launched_) UIApplication::sharedApplication()->terminate();
    NSRunLoop::mainRunLoop()->runUntilIdle();
}

void SimSession::end() {
    launched_ = false;
    UIApplication::sharedApplication()->shutDown();
}

bool SimSession::launch(const std::string& delegateClassName, const std::string& url) {
    // Started by a link, the application finds it in its launch options.
    Value::Dictionary options;
    if (!url.empty()) options.set(UIApplicationLaunchOptionsURLKey, Value(url));
    launched_ = UIApplication::sharedApplication()->launch(delegateClassName, options);
    settle();
    return launched_;
}

void SimSession::settle() {
    Clock::advance(0);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    if (auto app = UIApplication::sharedApplication())
        for (const auto& window : app->windows()) window->layoutAndDisplayIfNeeded();
    NSRunLoop::mainRunLoop()->runUntilIdle();
}

void SimSession::pass(double seconds) {
    Clock::advance(seconds);
    settle();
}

void SimSession::runUntilInput(const std::function<bool()>& inputReady) {
    if (!followsRealTime_) {
        while (!NSRunLoop::mainRunLoop()->runUntil(inputReady, 3600)) {
        }
        return;
    }
    // In short slices of real time, each followed by the clock.
    auto last = std::chrono::steady_clock::now();
    for (;;) {
        const bool ready = NSRunLoop::mainRunLoop()->runUntil(inputReady, kRealTimeSlice);
        const auto now = std::chrono::steady_clock::now();
        Clock::advance(std::chrono::duration<double>(now - last).count());
        last = now;
        settle();
        if (ready) return;
    }
}

void SimSession::advance(double seconds) {
    const double end = Clock::now() + seconds;
    for (;;) {
        catchUpWithNetwork();
        const double now = Clock::now();
        if (now >= end) break;
        Clock::advance(std::min(end, std::max(now, Clock::nextFireTime())) - now);
    }
    settle();
}

void SimSession::catchUpWithNetwork() {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(kCatchUpSeconds);
    for (;;) {
        const std::uint64_t before = URLNetwork::activityCount();
        const double left = std::chrono::duration<double>(giveUp - std::chrono::steady_clock::now()).count();
        (void)URLNetwork::waitUntilQuiet(kNetworkQuietSeconds, left);
        settle();
        // What was handed on may have started more (the next file of a list): follow it.
        if (URLNetwork::activityCount() == before || std::chrono::steady_clock::now() >= giveUp) return;
    }
}

SimSession::Result SimSession::idle(double seconds) {
    Result r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        const std::uint64_t before = URLNetwork::activityCount();
        settle();
        if (URLNetwork::liveTransferCount() == 0 && URLNetwork::activityCount() == before &&
            DispatchQuiescence::waitUntilIdle(0))
            return r;
        const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        // Back as soon as a transfer moves or, with none in flight, as the work (work apart, such
        // as a picture's decode, included) ends.
        if (URLNetwork::liveTransferCount() > 0) (void)URLNetwork::waitForActivity(before, std::min(left, 0.05));
        else (void)DispatchQuiescence::waitUntilIdle(std::min(left, 0.05));
    }
    r.ok = false;
    r.expectFailed = true;
    const std::size_t live = URLNetwork::liveTransferCount();
    char waited[32];
    std::snprintf(waited, sizeof waited, "%g", seconds);
    r.message = std::string("the application was still busy after ") + waited + " s (" + std::to_string(live) +
                (live == 1 ? " transfer" : " transfers") + " in flight)";
    return r;
}

std::vector<std::string> SimSession::handedToTheSystem() {
    const auto opened = UIApplication::sharedApplication()->openedURLs();
    // A reset application starts a new list.
    if (opened.size() < handedOver_) handedOver_ = 0;
    std::vector<std::string> lines;
    for (std::size_t i = handedOver_; i < opened.size(); ++i)
        lines.push_back((opened[i].opened ? "the system opens " : "the system cannot open ") + simPrintable(opened[i].url));
    handedOver_ = opened.size();
    return lines;
}

SimScreen SimSession::screen() {
    settle();
    return SimScreen::capture(&numbering_);
}

namespace {

// What a finger or the keyboard does to the screen, which shows nothing of an application in
// the background.
bool touchesTheScreen(SimCommand::Kind kind) {
    using Kind = SimCommand::Kind;
    switch (kind) {
        case Kind::Tap: case Kind::DoubleTap: case Kind::LongPress: case Kind::Type: case Kind::Clear:
        case Kind::Set: case Kind::Scroll: case Kind::Swipe: case Kind::Pan: case Kind::Move: case Kind::Back:
            return true;
        default: return false;
    }
}

}  // namespace

SimSession::Result SimSession::execute(const SimCommand& c) {
    Result r;
    if (auto app = UIApplication::sharedApplication();
        touchesTheScreen(c.kind) && app && app->applicationState() == UIApplicationState::Background) {
        r.ok = false;
        r.message = "the application is in the background, so nothing of it is on the screen to touch "
                    "(foreground brings it back)";
        return r;
    }
    switch (c.kind) {
        case SimCommand::Kind::Empty:
        case SimCommand::Kind::Show:
        case SimCommand::Kind::Help:
            return r;
        case SimCommand::Kind::Invalid:
            r.ok = false;
            r.message = c.error;
            return r;
        case SimCommand::Kind::Quit:
            r.quit = true;
            return r;
        case SimCommand::Kind::Tap: return tap(c, 1, 0);
        case SimCommand::Kind::DoubleTap: return tap(c, 2, 0);
        case SimCommand::Kind::LongPress: return tap(c, 1, 1.0);
        case SimCommand::Kind::Type: return type(c);
        case SimCommand::Kind::Clear: return type(c);
        case SimCommand::Kind::Set: return set(c);
        case SimCommand::Kind::Scroll: return scroll(c);
        case SimCommand::Kind::Swipe:
        case SimCommand::Kind::Pan: return swipeOrPan(c);
        case SimCommand::Kind::Move: return move(c);
        case SimCommand::Kind::Back: return back();
        case SimCommand::Kind::Display: return display(c);
        case SimCommand::Kind::Rotate: {
            auto app = UIApplication::sharedApplication();
            UIInterfaceOrientation to = UIInterfaceOrientation::LandscapeLeft;
            if (c.direction == "right") to = UIInterfaceOrientation::LandscapeRight;
            else if (c.direction == "portrait") to = UIInterfaceOrientation::Portrait;
            else if (c.direction.empty() && UIInterfaceOrientationIsLandscape(app->statusBarOrientation()))
                to = UIInterfaceOrientation::Portrait;
            app->rotateTo(to);
            pass(app->statusBarOrientationAnimationDuration());
            return r;
        }
        case SimCommand::Kind::Background:
            r.message = UIApplication::sharedApplication()->enterBackground()
                            ? "the application is now in the background"
                            : "already in the background";
            settle();
            return r;
        case SimCommand::Kind::Foreground:
            if (!UIApplication::sharedApplication()->enterForeground()) r.message = "already in the foreground";
            settle();
            return r;
        case SimCommand::Kind::OpenURL:
            if (!UIApplication::sharedApplication()->openURLInApplication(c.text, Value::Dictionary{}))
                r.message = "the application did not open " + simPrintable(c.text);
            settle();
            return r;
        case SimCommand::Kind::Remote:
            if (!UIApplication::sharedApplication()->sendRemoteControlEvent(static_cast<UIEventSubtype>(c.remoteSubtype)))
                r.message = "the application does not take remote-control events now, so " + c.text + " did nothing";
            settle();
            return r;
        case SimCommand::Kind::Purchase:
            r.ok = SimPurchase::complete(c.text, c.price, c.currency, r.message);
            settle();
            return r;
        case SimCommand::Kind::AdUnit:
            r.message = SimAdUnits::setVisible(c.text, c.direction == "show");
            r.ok = r.message.empty();
            settle();
            return r;
        case SimCommand::Kind::Advance:
            advance(c.seconds);
            return r;
        case SimCommand::Kind::Pause: {
            const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(c.seconds);
            if (followsRealTime_) runUntilInput([until] { return std::chrono::steady_clock::now() >= until; });
            else (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, c.seconds);
            settle();
            return r;
        }
        case SimCommand::Kind::Idle:
            return idle(c.seconds);
        case SimCommand::Kind::Shot: {
            settle();
            // The picture writer would only say that its stream failed.
            const std::size_t slash = c.path.find_last_of('/');
            const std::string folder = slash == std::string::npos ? "" : slash == 0 ? "/" : c.path.substr(0, slash);
            struct stat info {};
            const int found = folder.empty() ? 0 : ::stat(folder.c_str(), &info) == 0 ? 0 : errno;
            if (!folder.empty() && (found != 0 || !S_ISDIR(info.st_mode))) {
                r.ok = false;
                r.message = "shot: the folder " + simPrintable(folder) +
                            (found == ENOENT || found == ENOTDIR ? " does not exist"
                             : found != 0                        ? " cannot be reached (" + std::string(std::strerror(found)) + ")"
                                                                 : " is not a folder") +
                            ", so " + simPrintable(c.path) + " cannot be written";
                return r;
            }
            std::string error;
            if (!SimRenderer::write(c.path, error, nullptr, numbering_.alertInFront.lock())) {
                r.ok = false;
                r.message = error;
            } else {
                r.message = "saved " + simPrintable(c.path);
            }
            return r;
        }
        case SimCommand::Kind::Await: {
            // The network answers in real time: the application runs on while it is waited for.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(c.seconds);
            while (!screen().contains(c.text)) {
                if (std::chrono::steady_clock::now() >= deadline) {
                    r.ok = false;
                    r.expectFailed = true;
                    r.message = "waited " + std::to_string(static_cast<int>(c.seconds)) + " s for \"" + simPrintable(c.text) +
                                "\" on the screen, but it did not come";
                    return r;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            return r;
        }
        case SimCommand::Kind::Expect: {
            auto s = screen();
            if (!s.contains(c.text)) {
                r.ok = false;
                r.expectFailed = true;
                r.message = "expected \"" + simPrintable(c.text) + "\" on the screen, but it is not there";
            }
            return r;
        }
    }
    return r;
}

namespace {

// "[N] row "Settings"": what a command reached, as the screen listed it.
std::string named(const SimScreen& screen, const SimTarget& target) {
    return "[" + std::to_string(screen.numberOf(target)) + "] " + target.line;
}

std::string notOnScreen(const SimScreen& screen, const std::string& target, const std::string& what) {
    const std::size_t shown = screen.targets().size();
    return SimScreen::isNumber(target) ? "there is no control numbered " + target + " on the screen (it shows " +
                                             std::to_string(shown) + (shown == 1 ? " control)" : " controls)")
                                       : "nothing " + what + " called \"" + simPrintable(target) + "\" on the screen";
}

// Whether a touch on `target` is one the alert in front takes.
bool answersAlert(const SimTarget& target, const std::shared_ptr<NSObject>& alert) {
    return alert && target.view && UIAlertModality::touchReaches(target.view.get());
}

// While an alert is up it takes every touch and every key: what a command aimed past it meets,
// naming the alert and the buttons that answer it. Empty when nothing is in the way.
std::string alertInTheWay(const SimScreen& screen, const SimTarget* target) {
    auto alert = UIAlertModality::topAlert();
    if (!alert || (target && answersAlert(*target, alert))) return "";
    std::string title;
    if (auto view = std::dynamic_pointer_cast<UIAlertView>(alert)) title = view->title();
    else if (auto controller = std::dynamic_pointer_cast<UIAlertController>(alert)) title = controller->title();
    std::string buttons;
    for (const auto& t : screen.targets())
        if (answersAlert(t, alert)) buttons += (buttons.empty() ? "" : ", ") + named(screen, t);
    return "an alert is up" + (title.empty() ? std::string() : " (\"" + simPrintable(title) + "\")") +
           (buttons.empty() ? std::string(": it takes no touch") : ": answer it first with one of its buttons: " + buttons);
}

std::string shownNumber(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

// The segment a text names: its title, else its place counted from 1.
long segmentNamed(const UISegmentedControl& control, const std::string& name) {
    for (std::size_t i = 0; i < control.numberOfSegments(); ++i)
        if (control.titleForSegmentAtIndex(i) == name) return static_cast<long>(i);
    if (SimScreen::isNumber(name) && name.size() < 6) {
        const long place = std::stol(name);
        if (place >= 1 && place <= static_cast<long>(control.numberOfSegments())) return place - 1;
    }
    return -1;
}

// How far `view` can move its content the way a scroll `direction` goes, in points.
double roomTowards(const UIScrollView& view, const std::string& direction) {
    if (!view.isScrollEnabled() || !view.isUserInteractionEnabled()) return 0;
    const CGPoint offset = view.contentOffset(), min = view.minimumContentOffset(), max = view.maximumContentOffset();
    if (direction == "down") return max.y - offset.y;
    if (direction == "up") return offset.y - min.y;
    if (direction == "right") return max.x - offset.x;
    if (direction == "left") return offset.x - min.x;
    return 0;
}

// `text` as a keyboard types it: each byte that starts no UTF-8 character becomes U+FFFD, as
// the platform's strings read it; `replaced` counts them.
std::string keyboardText(const std::string& text, std::size_t& replaced) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t from = at;
        const char32_t c = NSString::nextCodePoint(text, at);
        if (c == 0xFFFD && at - from == 1) {
            ++replaced;
            NSString::appendUTF8(out, c);
        } else {
            out.append(text, from, at - from);
        }
    }
    return out;
}

// How far a scroll without a distance moves `view`: a screenful less a row, as a flick moves a
// list, so that the row at the edge it moves towards is still in sight (half a screenful where
// that is more).
double flickDistance(const UIScrollView& view, const std::string& direction) {
    const bool vertical = direction == "down" || direction == "up";
    const UIEdgeInsets inset = view.contentInset();
    const double seen = vertical ? view.bounds().size.height - inset.top - inset.bottom
                                 : view.bounds().size.width - inset.left - inset.right;
    double row = 44;
    if (const auto* table = dynamic_cast<const UITableView*>(&view); table && vertical) {
        const auto shown = table->indexPathsForVisibleRows();
        if (!shown.empty())
            row = table->rectForRowAtIndexPath(direction == "down" ? shown.back() : shown.front()).size.height;
    }
    return std::max(seen - row, seen / 2);
}

// The texts of the labels a cell shows, in the order it holds them.
void cellTexts(const std::shared_ptr<UIView>& view, std::vector<std::string>& texts) {
    if (view->isHidden()) return;
    if (auto label = std::dynamic_pointer_cast<UILabel>(view); label && !label->text().empty()) texts.push_back(label->text());
    for (const auto& sub : view->subviews()) cellTexts(sub, texts);
}

// Where a row that shows `text` (exactly, else within a text of its own) lies out of sight in
// a list on the screen: the lists' data sources are asked for the rows not shown, as a list asks
// for a row it is about to show. Empty when no such row is found.
std::string rowOutOfSight(const SimScreen& screen, const std::string& text) {
    std::string containing;
    for (const auto& v : screen.scrollViews()) {
        auto table = std::dynamic_pointer_cast<UITableView>(v);
        auto source = table ? table->dataSource() : nullptr;
        if (!source) continue;
        const auto shown = table->indexPathsForVisibleRows();
        for (long section = 0; section < table->numberOfSections(); ++section) {
            for (long row = 0; row < table->numberOfRowsInSection(section); ++row) {
                const NSIndexPath path = NSIndexPath::indexPathForRow(row, section);
                if (std::find(shown.begin(), shown.end(), path) != shown.end()) continue;
                auto cell = source->cellForRowAtIndexPath(table, path);
                if (!cell) continue;
                std::vector<std::string> texts;
                cellTexts(cell->contentView(), texts);
                const bool exact = std::find(texts.begin(), texts.end(), text) != texts.end();
                if (!exact && (!containing.empty() || std::none_of(texts.begin(), texts.end(), [&](const std::string& t) {
                                   return t.find(text) != std::string::npos;
                               })))
                    continue;
                const char* way = table->rectForRowAtIndexPath(path).origin.y >= table->contentOffset().y ? "down" : "up";
                const std::string where = "\"" + text + "\" is a row of a list further " + way +
                                          ", out of sight: scroll " + way + " to it, then tap it";
                if (exact) return where;
                containing = where;
            }
        }
    }
    return containing;
}

// Why the screen's largest scroll view does not scroll that way.
std::string whyNot(const UIScrollView& view, const std::string& direction) {
    const std::string largest = "the largest scroll view on it ";
    if (!view.isScrollEnabled() || !view.isUserInteractionEnabled()) return largest + "takes no scrolling now";
    const bool vertical = direction == "down" || direction == "up";
    const CGPoint min = view.minimumContentOffset(), max = view.maximumContentOffset();
    if ((vertical ? max.y - min.y : max.x - min.x) <= 0.5) return largest + "shows all it holds";
    const char* end = direction == "down"   ? "bottom"
                      : direction == "up"   ? "top"
                      : direction == "left" ? "left end"
                                            : "right end";
    return largest + "is at its " + end + " already";
}

}  // namespace

SimSession::Result SimSession::tap(const SimCommand& c, int taps, double hold) {
    Result r;
    auto s = screen();
    const SimTarget* target = s.find(c.target);
    // Named as the screen lists it, with the states it shows after its name ("favorite (off)",
    // "repeat (all)", a row "(selected)", "menu (badge 3)"): the control of that name showing
    // those states. A name of its own in parentheses is tried first.
    std::string name = c.target;
    std::vector<std::string> states;
    for (const auto& reading : target ? std::vector<SimScreen::Named>{} : SimScreen::namesWithStates(c.target)) {
        target = s.find(reading.name, reading.states);
        if (target) {
            name = reading.name;
            states = reading.states;
            break;
        }
        const SimTarget* otherwise = s.find(reading.name);
        if (!otherwise) continue;
        if (alertInTheWay(s, otherwise).empty()) {
            std::string missing;
            for (const auto& state : reading.states)
                if (std::find(otherwise->states.begin(), otherwise->states.end(), state) == otherwise->states.end())
                    missing += " (" + simPrintable(state, false) + ")";
            r.ok = false;
            r.message = named(s, *otherwise) + " does not show" + missing + " now, so it was not tapped";
            return r;
        }
        break;
    }
    if (!target) {
        r.ok = false;
        // A text nothing shows is sought in vain behind an alert too (a button of one waiting
        // behind it): only the front one's buttons answer.
        const std::string refused = SimScreen::isNumber(c.target) ? "" : alertInTheWay(s, nullptr);
        const std::string outOfSight = SimScreen::isNumber(c.target) || !refused.empty() ? "" : rowOutOfSight(s, c.target);
        r.message = !refused.empty()    ? refused
                    : !outOfSight.empty() ? outOfSight
                                          : notOnScreen(s, c.target, "to tap");
        return r;
    }
    // While an alert is up, a text its buttons show means its button (a Cancel under it is out
    // of reach anyway).
    if (auto alert = UIAlertModality::topAlert(); alert && !answersAlert(*target, alert) && !SimScreen::isNumber(name))
        for (const auto& t : s.targets())
            if (answersAlert(t, alert) && std::find(t.texts.begin(), t.texts.end(), name) != t.texts.end() &&
                std::all_of(states.begin(), states.end(), [&](const std::string& state) {
                    return std::find(t.states.begin(), t.states.end(), state) != t.states.end();
                })) {
                target = &t;
                break;
            }
    if (auto refused = alertInTheWay(s, target); !refused.empty()) {
        r.ok = false;
        r.message = refused;
        return r;
    }
    const std::string verb = taps == 2 ? "double-tapped " : hold > 0 ? "pressed " : "tapped ";
    r.message = verb + named(s, *target);
    auto window = target->view ? target->view->window() : nullptr;
    if (!window) {
        r.ok = false;
        r.message = "that is no longer on the screen";
        return r;
    }
    // Everything the way a finger does it: the view under the point takes the touch (a control
    // sends its events, a bar's button runs its item's action or goes back, an alert's button
    // answers it, a row or a cell is chosen through its list, a field starts typing) and the
    // recognisers above it see it.
    CGPoint p = touchPointInWindow(target->view);
    // A segment is touched where it is drawn; by its number, or by its title.
    auto seg = std::dynamic_pointer_cast<UISegmentedControl>(target->view);
    long segment = seg ? target->buttonIndex : -1;
    if (seg && segment < 0 && !SimScreen::isNumber(name)) segment = segmentNamed(*seg, name);
    if (seg && segment >= 0) {
        const CGRect frame = seg->convertRectToView(seg->frameForSegmentAtIndex(static_cast<std::size_t>(segment)), window);
        p = {CGRectGetMidX(frame), CGRectGetMidY(frame)};
    }
    if (hold > 0) window->longPress(p, hold);
    else window->tap(p, taps);
    pass(actionTime());
    // The control as it is now (a toggle turned on), where its screen still shows it: there its
    // number is still that control, whichever view shows it now. One that now reads otherwise
    // (Edit that became Done) is named as it was touched, then as it became: the echo never
    // reads as if the other one had been tapped.
    const int number = s.numberOf(*target);
    const auto screenTouched = target->screen;
    const long segmentTouched = target->buttonIndex;
    const SimScreen after = screen();
    if (const SimTarget* now = after.withNumber(number);
        now && now->screen == screenTouched && now->buttonIndex == segmentTouched)
        r.message = now->texts == target->texts ? verb + named(after, *now) : r.message + ", now " + now->line;
    return r;
}

SimSession::Result SimSession::type(const SimCommand& c) {
    Result r;
    if (!c.target.empty()) {
        SimCommand tapIt;
        tapIt.target = c.target;
        r = tap(tapIt, 1, 0);
        if (!r.ok) return r;
        r.message.clear();
    }
    auto responder = UIResponder::currentFirstResponder();
    const bool clearing = c.kind == SimCommand::Kind::Clear;
    // Keys go to a field of the alert in front, never to one beneath it.
    auto responderView = std::dynamic_pointer_cast<UIView>(responder);
    if (UIAlertModality::isAlertUp() && !(responderView && UIAlertModality::touchReaches(responderView.get()))) {
        r.ok = false;
        r.message = alertInTheWay(screen(), nullptr);
        return r;
    }
    // No keyboard types a byte that is no text.
    std::size_t replaced = 0;
    const std::string typed = clearing ? std::string() : keyboardText(c.text, replaced);
    if (auto field = std::dynamic_pointer_cast<UITextField>(responder)) {
        if (clearing && !field->clearText()) r.message = "the field keeps its text (the application refused to clear it)";
        else if (!clearing) field->insertText(typed);
    } else if (auto bar = std::dynamic_pointer_cast<UISearchBar>(responder)) {
        (void)(clearing ? bar->simulateReplaceText("") : bar->simulateTyping(typed));
    } else if (auto area = std::dynamic_pointer_cast<UITextView>(responder)) {
        if (clearing) (void)area->replaceCharactersInRange({0, NSString::utf16Length(area->text())}, "");
        else (void)area->insertText(typed);
    } else {
        r.ok = false;
        r.message = "no text field, search bar or text is taking typing (tap one first)";
        return r;
    }
    if (replaced == 1) r.message = "typed U+FFFD in place of 1 byte that is no UTF-8 (a keyboard types only text)";
    else if (replaced > 1)
        r.message = "typed U+FFFD in place of each of " + std::to_string(replaced) +
                    " bytes that are no UTF-8 (a keyboard types only text)";
    pass(actionTime());
    return r;
}

SimSession::Result SimSession::set(const SimCommand& c) {
    Result r;
    auto s = screen();
    const SimTarget* target = s.find(c.target);
    if (!target) {
        r.ok = false;
        r.message = notOnScreen(s, c.target, "to set");
        return r;
    }
    if (auto refused = alertInTheWay(s, target); !refused.empty()) {
        r.ok = false;
        r.message = refused;
        return r;
    }
    const std::string name = named(s, *target);
    if (auto slider = std::dynamic_pointer_cast<UISlider>(target->view)) {
        double value = 0;
        char* end = nullptr;
        value = std::strtod(c.text.c_str(), &end);
        if (c.text.empty() || *end != '\0' || !std::isfinite(value) || value < slider->minimumValue() ||
            value > slider->maximumValue()) {
            r.ok = false;
            r.message = name + " takes a number from " + shownNumber(slider->minimumValue()) + " to " +
                        shownNumber(slider->maximumValue());
            return r;
        }
        // As a finger moves it: the control sends its own events.
        slider->simulateDrag(static_cast<float>(value));
    } else if (auto seg = std::dynamic_pointer_cast<UISegmentedControl>(target->view)) {
        const long index = segmentNamed(*seg, c.text);
        if (index < 0) {
            r.ok = false;
            r.message = name + " has no segment \"" + simPrintable(c.text) + "\" (give its title or its place, 1 to " +
                        std::to_string(seg->numberOfSegments()) + ")";
            return r;
        }
        seg->simulateTapOnSegment(static_cast<std::size_t>(index));
    } else if (auto sw = std::dynamic_pointer_cast<UISwitch>(target->view)) {
        if (c.text != "on" && c.text != "off") {
            r.ok = false;
            r.message = name + " is a switch: set it on or off";
            return r;
        }
        if (sw->isOn() != (c.text == "on")) sw->simulateTap();
    } else {
        r.ok = false;
        r.message = name + " is no slider, segments or switch, so it cannot be set";
        return r;
    }
    pass(actionTime());
    // What the control shows now, read back from the screen.
    const int number = s.numberOf(*target);
    const SimScreen after = screen();
    const SimTarget* now = after.withNumber(number);
    r.message = "set " + (now ? named(after, *now) : name + " to " + simPrintable(c.text));
    return r;
}

SimSession::Result SimSession::scroll(const SimCommand& c) {
    Result r;
    auto s = screen();
    std::shared_ptr<UIScrollView> view;
    const SimTarget* t = c.target.empty() ? nullptr : s.find(c.target);
    // A finger on the screen meets the alert in front first, as a tap does.
    if (auto refused = alertInTheWay(s, t); !refused.empty()) {
        r.ok = false;
        r.message = refused;
        return r;
    }
    if (!c.target.empty()) {
        for (auto v = t ? t->view : nullptr; v && !view; v = v->superview()) view = std::dynamic_pointer_cast<UIScrollView>(v);
    } else {
        // The screen's main list: the largest scroll view that can move that way.
        std::shared_ptr<UIScrollView> largest;
        double largestArea = -1, area = -1;
        for (const auto& v : s.scrollViews()) {
            auto scroller = std::dynamic_pointer_cast<UIScrollView>(v);
            if (!scroller || !scroller->window()) continue;
            const CGRect shown = CGRectIntersection(scroller->convertRectToView(scroller->bounds(), scroller->window()),
                                                    scroller->window()->bounds());
            const double size = CGRectIsEmpty(shown) ? 0 : shown.size.width * shown.size.height;
            if (size > largestArea) {
                largest = scroller;
                largestArea = size;
            }
            if (size > area && roomTowards(*scroller, c.direction) > 0.5) {
                view = scroller;
                area = size;
            }
        }
        if (!view) {
            r.ok = false;
            r.message = !largest ? "nothing on the screen scrolls"
                                 : "nothing on the screen can scroll " + c.direction + ": " + whyNot(*largest, c.direction);
            return r;
        }
    }
    if (!view) {
        r.ok = false;
        r.message = "nothing to scroll";
        return r;
    }
    CGPoint offset = view->contentOffset();
    const double distance = c.distance > 0 ? c.distance : flickDistance(*view, c.direction);
    if (c.direction == "down") offset.y += distance;
    if (c.direction == "up") offset.y -= distance;
    if (c.direction == "right") offset.x += distance;
    if (c.direction == "left") offset.x -= distance;
    view->simulateScroll(offset);
    pass(actionTime());
    return r;
}

SimSession::Result SimSession::swipeOrPan(const SimCommand& c) {
    Result r;
    auto window = keyWindow();
    if (!window) {
        r.ok = false;
        r.message = "no window on the screen";
        return r;
    }
    CGPoint from{CGRectGetMidX(window->bounds()), CGRectGetMidY(window->bounds())};
    auto s = screen();
    const SimTarget* t = c.target.empty() ? nullptr : s.find(c.target);
    if (!c.target.empty() && (!t || !t->view)) {
        r.ok = false;
        r.message = "nothing called \"" + simPrintable(c.target) + "\" to drag on the screen";
        return r;
    }
    // A finger on the screen meets the alert in front first, as a tap does.
    if (auto refused = alertInTheWay(s, t); !refused.empty()) {
        r.ok = false;
        r.message = refused;
        return r;
    }
    if (t) from = centreInWindow(t->view);
    double dx = c.dx, dy = c.dy, speed = c.speed;
    if (c.kind == SimCommand::Kind::Swipe) {
        // A quick flick across most of the width or height, starting on the far side.
        const double w = window->bounds().size.width * 0.6, h = window->bounds().size.height * 0.4;
        speed = 1500;
        if (c.direction == "left") { dx = -w; from.x += w / 2; }
        if (c.direction == "right") { dx = w; from.x -= w / 2; }
        if (c.direction == "up") { dy = -h; from.y += h / 2; }
        if (c.direction == "down") { dy = h; from.y -= h / 2; }
    }
    window->pan(from, dx, dy, speed);
    pass(actionTime());
    return r;
}

SimSession::Result SimSession::move(const SimCommand& c) {
    Result r;
    auto s = screen();
    const SimTarget* from = s.find(c.target);
    const SimTarget* to = s.find(c.destination);
    auto row = from ? std::dynamic_pointer_cast<UITableViewCell>(from->view) : nullptr;
    auto place = to ? std::dynamic_pointer_cast<UITableViewCell>(to->view) : nullptr;
    if (!row || !place) {
        r.ok = false;
        r.message = !from ? notOnScreen(s, c.target, "to move")
                  : !to   ? notOnScreen(s, c.destination, "to move to")
                          : "move takes two rows of a list";
        return r;
    }
    if (auto refused = alertInTheWay(s, nullptr); !refused.empty()) {
        r.ok = false;
        r.message = refused;
        return r;
    }
    if (from == to) {
        r.ok = false;
        r.message = named(s, *from) + " is in that place already: nothing moved";
        return r;
    }
    auto grip = row->reorderControl();
    if (!grip || !grip->window()) {
        r.ok = false;
        r.message = named(s, *from) + " cannot be moved now: a list shows its rows' reorder controls while it is edited";
        return r;
    }
    // The finger takes the grip and lets go over the middle of the other row.
    const CGPoint start = centreInWindow(grip);
    const CGPoint end = centreInWindow(place);
    grip->window()->pan(start, 0, end.y - start.y, 300);
    r.message = "moved " + named(s, *from) + " to the place of " + named(s, *to);
    pass(actionTime());
    return r;
}

namespace {

// A control a finger can reach now: on a window, and what lies under its touch point is it.
bool reachable(const SimTarget& target) {
    auto window = target.view ? target.view->window() : nullptr;
    return window && touchGoesTo(window, target.view, touchPointInWindow(target.view));
}

bool insideNavigationBar(const std::shared_ptr<UIView>& view) {
    for (auto v = view; v; v = v->superview())
        if (std::dynamic_pointer_cast<UINavigationBar>(v)) return true;
    return false;
}

// A listed button named Back that a finger can reach, one in a navigation bar (the place of the
// back button a screen shown on its own puts there) before any other.
const SimTarget* listedBack(const SimScreen& screen) {
    const SimTarget* found = nullptr;
    for (const auto& t : screen.targets()) {
        if (std::find(t.texts.begin(), t.texts.end(), "Back") == t.texts.end() || !reachable(t)) continue;
        if (insideNavigationBar(t.view)) return &t;
        if (!found) found = &t;
    }
    return found;
}

}  // namespace

SimSession::Result SimSession::back() {
    Result r;
    // The back button of the screen in front, touched as a finger touches it: the innermost
    // stack that shows one decides; else a button named Back the screen lists; where the back
    // button is hidden or something lies over it, nothing goes back.
    auto s = screen();
    r.ok = false;
    // An alert in front takes the finger first.
    if (auto refused = alertInTheWay(s, nullptr); !refused.empty()) {
        r.message = refused;
        return r;
    }
    auto top = topPresented();
    std::vector<std::shared_ptr<UINavigationController>> navs;
    if (top) collectNavigations(top, navs);
    else if (auto window = keyWindow()) collectNavigations(window->rootViewController(), navs);
    std::shared_ptr<UIView> button;
    std::shared_ptr<UINavigationController> owner;
    for (auto it = navs.rbegin(); it != navs.rend() && !button; ++it) {
        button = (*it)->navigationBar()->backButton();
        owner = *it;
    }
    const auto target = std::find_if(s.targets().begin(), s.targets().end(),
                                     [&](const SimTarget& t) { return button && t.view == button; });
    if (target == s.targets().end() || !reachable(*target)) {
        if (const SimTarget* listed = listedBack(s)) {
            SimCommand tapIt;
            tapIt.target = std::to_string(s.numberOf(*listed));
            return tap(tapIt, 1, 0);
        }
    }
    if (!button) {
        r.message = "there is no back button on the screen to go back with (a screen presented on its own closes with a button of its own)";
        return r;
    }
    auto window = button->window();
    if (target == s.targets().end() || !window) {
        // A picture shown without its bars brings them back on a tap.
        const auto picture = std::find_if(s.targets().begin(), s.targets().end(), [](const SimTarget& t) {
            return t.view && (accessibilityTraits(*t.view) & UIAccessibilityTraitImage);
        });
        if (owner->isNavigationBarHidden() && picture != s.targets().end()) {
            r.message = "the bars are hidden, and the back button with them: tap " + named(s, *picture) +
                        " to bring them back";
            return r;
        }
        r.message = "the back button is not on the screen (its bar is hidden or covered), so there is no going back";
        return r;
    }
    const CGPoint p = touchPointInWindow(button);
    if (!touchGoesTo(window, button, p)) {
        r.message = named(s, *target) + " is covered: a finger there touches something else, so there is no going back";
        return r;
    }
    r.ok = true;
    r.message = "tapped " + named(s, *target);
    window->tap(p, 1);
    pass(actionTime());
    return r;
}

SimSession::Result SimSession::display(const SimCommand& c) {
    Result r;
    if (c.direction == "connect") {
        if (external_) {
            r.ok = false;
            r.message = "an external screen is connected already";
            return r;
        }
        external_ = UIScreen::make({c.dx, c.dy}, 1);
        UIScreen::connectScreen(external_);
    } else {
        if (!external_) {
            r.ok = false;
            r.message = "no external screen is connected";
            return r;
        }
        UIScreen::disconnectScreen(external_);
        external_.reset();
    }
    pass(actionTime());
    return r;
}
