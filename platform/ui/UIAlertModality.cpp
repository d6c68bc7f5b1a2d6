// The alerts on screen, newest last, and the presentations waiting for them to go.
#include "platform/ui/UIAlertModality.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIResponder.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <deque>
#include <vector>

namespace {

struct Modality {
    std::vector<std::weak_ptr<NSObject>> alerts;
    // Per alert up, the responder whose focus it took, given back when it goes.
    struct Focus {
        const NSObject* alert;
        std::weak_ptr<NSObject> alive;
        std::weak_ptr<UIResponder> responder;
    };
    std::vector<Focus> tookFocus;
    // The responder that gave the focus up during this turn of the main run loop: an alert the
    // same action raises (a Done that ends the editing, then finds the text wanting) took it.
    std::weak_ptr<UIResponder> justResigned;
    std::deque<std::function<void()>> waiting;
    // Bumped by reset, so a drain posted before it does nothing after it.
    unsigned long generation = 0;
    // The waiting presentations are going ahead now.
    bool draining = false;
};

Modality& modality() {
    static auto* state = new Modality;  // main thread only; never destroyed
    return *state;
}

// Alerts that went away without saying so (destroyed while shown) are dropped.
void prune() {
    auto& alerts = modality().alerts;
    alerts.erase(std::remove_if(alerts.begin(), alerts.end(), [](const auto& weak) { return weak.expired(); }),
                 alerts.end());
}

void drainWaiting(unsigned long generation) {
    auto& state = modality();
    if (generation != state.generation) return;
    // Each one checks again: one that puts up an alert makes the rest wait once more.
    std::deque<std::function<void()>> batch;
    batch.swap(state.waiting);
    state.draining = true;
    for (auto& presentation : batch) {
        if (UIAlertModality::isAlertUp()) state.waiting.push_back(std::move(presentation));
        else presentation();
    }
    state.draining = false;
}

// Watched from the start, so that the first alert finds the focus given up before it too.
[[maybe_unused]] const std::uint64_t focusWatch = UIResponder::addFirstResponderObserver(
    [](const std::shared_ptr<UIResponder>& previous, const std::shared_ptr<UIResponder>& current) {
        if (!previous || current) return;
        modality().justResigned = previous;
        std::weak_ptr<UIResponder> weak = previous;
        NSRunLoop::mainRunLoop()->post([weak] {
            auto& focus = modality().justResigned;
            if (!focus.owner_before(weak) && !weak.owner_before(focus)) focus.reset();
        });
    });

bool tookFocus(const NSObject* alert) {
    const auto& all = modality().tookFocus;
    return std::any_of(all.begin(), all.end(), [alert](const Modality::Focus& f) { return f.alert == alert; });
}

// The focus goes back to `responder` once the alert's action has run, unless something has
// taken it meanwhile or the responder has left the screen; an alert the action raised gives
// it back when it goes in turn.
void giveFocusBack(const std::weak_ptr<UIResponder>& responder) {
    const unsigned long generation = modality().generation;
    NSRunLoop::mainRunLoop()->post([responder, generation] {
        auto holder = responder.lock();
        if (!holder || generation != modality().generation || UIResponder::currentFirstResponder()) return;
        if (auto top = UIAlertModality::topAlert()) {
            if (!tookFocus(top.get())) modality().tookFocus.push_back({top.get(), top, responder});
            return;
        }
        auto view = std::dynamic_pointer_cast<UIView>(holder);
        if (!view) return;
        for (auto v = view; v; v = v->superview())
            if (v->isHidden()) return;
        if (view->window()) (void)holder->becomeFirstResponder();
    });
}

}  // namespace

void UIAlertModality::alertShown(const std::shared_ptr<NSObject>& alert) {
    if (!alert) return;
    prune();
    auto& alerts = modality().alerts;
    for (const auto& weak : alerts)
        if (weak.lock() == alert) return;
    alerts.push_back(alert);
    auto& state = modality();
    state.tookFocus.erase(std::remove_if(state.tookFocus.begin(), state.tookFocus.end(),
                                         [](const Modality::Focus& f) { return f.alive.expired(); }),
                          state.tookFocus.end());
    auto focus = UIResponder::currentFirstResponder();
    // A field of the alert's own is not given back to.
    if (auto view = std::dynamic_pointer_cast<UIView>(focus); view && touchReaches(view.get())) focus = nullptr;
    if (!focus) focus = state.justResigned.lock();
    if (focus) state.tookFocus.push_back({alert.get(), alert, focus});
}

void UIAlertModality::alertEnded(const NSObject* alert) {
    auto& state = modality();
    state.alerts.erase(std::remove_if(state.alerts.begin(), state.alerts.end(),
                                      [alert](const auto& weak) {
                                          auto live = weak.lock();
                                          return !live || live.get() == alert;
                                      }),
                       state.alerts.end());
    for (auto it = state.tookFocus.begin(); it != state.tookFocus.end(); ++it) {
        if (it->alert != alert) continue;
        const auto responder = it->responder;
        state.tookFocus.erase(it);
        giveFocusBack(responder);
        break;
    }
    if (state.alerts.empty() && !state.waiting.empty()) {
        const unsigned long generation = state.generation;
        NSRunLoop::mainRunLoop()->post([generation] { drainWaiting(generation); });
    }
}

bool UIAlertModality::isAlertUp() {
    prune();
    return !modality().alerts.empty();
}

std::shared_ptr<NSObject> UIAlertModality::topAlert() {
    prune();
    const auto& alerts = modality().alerts;
    return alerts.empty() ? nullptr : alerts.back().lock();
}

std::vector<std::shared_ptr<NSObject>> UIAlertModality::alerts() {
    prune();
    std::vector<std::shared_ptr<NSObject>> shown;
    for (const auto& weak : modality().alerts)
        if (auto alert = weak.lock()) shown.push_back(std::move(alert));
    return shown;
}

bool UIAlertModality::isTopAlert(const NSObject* alert) {
    auto top = topAlert();
    return !top || top.get() == alert;
}

bool UIAlertModality::touchReaches(const UIView* view) {
    auto top = topAlert();
    if (!top) return true;
    if (auto alertView = std::dynamic_pointer_cast<UIAlertView>(top)) {
        auto window = alertView->window();
        return view && window && view->isDescendantOfView(window.get());
    }
    auto controller = std::dynamic_pointer_cast<UIViewController>(top);
    if (!controller || !view || !controller->isViewLoaded()) return false;
    return view->isDescendantOfView(controller->view().get());
}

bool UIAlertModality::mustWait(const NSObject* presenter) {
    if (isAlertUp()) return !isTopAlert(presenter);
    return !modality().waiting.empty() && !modality().draining;
}

void UIAlertModality::afterAlerts(std::function<void()> presentation) {
    if (!presentation) return;
    auto& state = modality();
    state.waiting.push_back(std::move(presentation));
    // Nothing to wait for any more (the alert went meanwhile): they go on the next turn.
    if (!isAlertUp() && state.waiting.size() == 1 && !state.draining) {
        const unsigned long generation = state.generation;
        NSRunLoop::mainRunLoop()->post([generation] { drainWaiting(generation); });
    }
}

std::size_t UIAlertModality::waitingCount() { return modality().waiting.size(); }

void UIAlertModality::reset() {
    auto& state = modality();
    state.alerts.clear();
    state.waiting.clear();
    state.tookFocus.clear();
    state.justResigned.reset();
    state.draining = false;
    ++state.generation;
}
