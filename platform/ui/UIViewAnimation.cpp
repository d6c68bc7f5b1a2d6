// View animations: the changes apply at once; the record waits on the main run loop for the
// clock to pass its end, then runs the completion.
#include "platform/ui/UIViewAnimation.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIView.h"

#include <algorithm>
#include <deque>

namespace {
constexpr std::size_t kLogLimit = 1000;

struct StopHandler {
    const UIViewAnimation* animation;
    std::function<void(const std::string&, bool)> handler;
};

// Interface work happens on the main thread; so does all of this.
struct AnimationState {
    // Animations collecting changes: blocks running now, and begin/commit pairs not committed.
    std::vector<std::shared_ptr<UIViewAnimation>> building;
    std::vector<std::shared_ptr<UIViewAnimation>> active;
    std::deque<std::shared_ptr<UIViewAnimation>> log;
    std::vector<StopHandler> stopHandlers;
    bool enabled = true;
    int withoutAnimation = 0;
};

AnimationState& state() {
    static AnimationState s;
    return s;
}

UIViewAnimation* pendingBeginCommit() {
    auto& s = state();
    for (auto it = s.building.rbegin(); it != s.building.rend(); ++it)
        if ((*it)->form == UIViewAnimation::Form::BeginCommit) return it->get();
    return nullptr;
}
}  // namespace

struct UIViewAnimationDriver {
    static std::shared_ptr<UIViewAnimation> begin(UIViewAnimation::Form form, double duration, double delay,
                                                  unsigned options) {
        auto animation = std::make_shared<UIViewAnimation>();
        animation->form = form;
        animation->duration = std::max(0.0, duration);
        animation->delay = std::max(0.0, delay);
        animation->options = options;
        animation->curve = static_cast<UIViewAnimationCurve>((options >> 16) & 3);
        return animation;
    }

    static void runBlock(const std::shared_ptr<UIViewAnimation>& animation, const std::function<void()>& animations) {
        auto& s = state();
        s.building.push_back(animation);
        if (animations) animations();
        s.building.pop_back();
    }

    static void complete(const std::shared_ptr<UIViewAnimation>& animation) {
        if (animation->completed_) return;
        animation->completed_ = true;
        std::erase(state().active, animation);
        auto completion = std::move(animation->completion_);
        animation->completion_ = nullptr;
        if (completion) completion(animation->finished_);
    }

    static void post(const std::shared_ptr<UIViewAnimation>& animation, double wait) {
        auto run = [weak = std::weak_ptr<UIViewAnimation>(animation)] {
            if (auto a = weak.lock()) complete(a);
        };
        if (wait <= 0) NSRunLoop::mainRunLoop()->post(std::move(run));
        else NSRunLoop::mainRunLoop()->performAfterDelay(animation, std::move(run), wait);
    }

    static void commit(const std::shared_ptr<UIViewAnimation>& animation, std::function<void(bool)> completion) {
        auto& s = state();
        animation->startTime = Clock::now();
        animation->completion_ = std::move(completion);
        if (!s.enabled || s.withoutAnimation > 0) {
            animation->duration = 0;
            animation->delay = 0;
        }

        // Begun from the current state, it takes over what it changes of earlier animations:
        // they end with finished = NO, at once when nothing of theirs is left running.
        if (animation->beginsFromCurrentState()) {
            const auto active = s.active;
            for (auto& earlier : active) {
                bool touched = false;
                for (auto& change : earlier->changes) {
                    if (!change.supersededFlag && animation->changed(change.address, change.key)) {
                        change.supersededFlag = true;
                        touched = true;
                    }
                }
                if (!touched) continue;
                earlier->finished_ = false;
                const bool allTaken = std::all_of(earlier->changes.begin(), earlier->changes.end(),
                                                  [](const auto& c) { return c.supersededFlag; });
                if (allTaken) {
                    NSRunLoop::mainRunLoop()->cancelPerformRequests(earlier.get());
                    post(earlier, 0);
                }
            }
        }

        s.log.push_back(animation);
        while (s.log.size() > kLogLimit) s.log.pop_front();
        s.active.push_back(animation);
        post(animation, animation->delay + animation->duration);
    }
};

unsigned UIViewAnimation::transitionOption() const {
    if (form == Form::BeginCommit) {
        switch (transition) {
        case UIViewAnimationTransitionFlipFromLeft: return UIViewAnimationOptionTransitionFlipFromLeft;
        case UIViewAnimationTransitionFlipFromRight: return UIViewAnimationOptionTransitionFlipFromRight;
        case UIViewAnimationTransitionCurlUp: return UIViewAnimationOptionTransitionCurlUp;
        case UIViewAnimationTransitionCurlDown: return UIViewAnimationOptionTransitionCurlDown;
        default: return UIViewAnimationOptionTransitionNone;
        }
    }
    return options & (7u << 20);
}

bool UIViewAnimation::changed(const UIView* view, const std::string& key) const {
    return std::any_of(changes.begin(), changes.end(),
                       [&](const Change& c) { return c.address == view && c.key == key; });
}

void UIView::noteAnimatableChange(const std::string& key) {
    auto& s = state();
    if (s.building.empty() || s.withoutAnimation > 0) return;
    auto& animation = s.building.back();
    if (animation->changed(this, key)) return;
    auto self = std::static_pointer_cast<UIView>(weak_from_this().lock());
    animation->changes.push_back({self, this, key, false, key == "opacity" ? presentationAlpha() : 0.0});
}

namespace {

// How far along its curve an animation is at `t`, the share of its duration gone (0 to 1).
double along(UIViewAnimationCurve curve, double t) {
    switch (curve) {
        case UIViewAnimationCurveEaseIn: return t * t;
        case UIViewAnimationCurveEaseOut: return 1 - (1 - t) * (1 - t);
        case UIViewAnimationCurveLinear: return t;
        default: return t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
    }
}

}  // namespace

CGFloat UIView::presentationAlpha() const {
    // The latest animation of the opacity still running decides.
    const auto& active = state().active;
    for (auto it = active.rbegin(); it != active.rend(); ++it) {
        const UIViewAnimation& animation = **it;
        for (const auto& change : animation.changes) {
            if (change.address != this || change.key != "opacity" || change.supersededFlag) continue;
            const double gone = animation.duration > 0
                                    ? (Clock::now() - animation.startTime - animation.delay) / animation.duration
                                    : 1;
            return change.from + (alpha_ - change.from) * along(animation.curve, std::clamp(gone, 0.0, 1.0));
        }
    }
    return alpha_;
}

void UIView::animateWithDuration(double duration, const std::function<void()>& animations) {
    animateWithDuration(duration, 0, 0, animations, nullptr);
}

void UIView::animateWithDuration(double duration, const std::function<void()>& animations,
                                 std::function<void(bool)> completion) {
    animateWithDuration(duration, 0, 0, animations, std::move(completion));
}

void UIView::animateWithDuration(double duration, double delay, unsigned options,
                                 const std::function<void()>& animations, std::function<void(bool)> completion) {
    auto animation = UIViewAnimationDriver::begin(UIViewAnimation::Form::Block, duration, delay, options);
    UIViewAnimationDriver::runBlock(animation, animations);
    UIViewAnimationDriver::commit(animation, std::move(completion));
}

void UIView::animateWithDuration(double duration, double delay, CGFloat springDamping, CGFloat initialVelocity,
                                 unsigned options, const std::function<void()>& animations,
                                 std::function<void(bool)> completion) {
    auto animation = UIViewAnimationDriver::begin(UIViewAnimation::Form::Spring, duration, delay, options);
    animation->springDamping = springDamping;
    animation->initialVelocity = initialVelocity;
    UIViewAnimationDriver::runBlock(animation, animations);
    UIViewAnimationDriver::commit(animation, std::move(completion));
}

bool UIView::areAnimationsEnabled() { return state().enabled; }
void UIView::setAnimationsEnabled(bool enabled) { state().enabled = enabled; }

void UIView::beginAnimations(const std::string& animationID) {
    // 0.2 s unless set: the platform's default for this form.
    auto animation = UIViewAnimationDriver::begin(UIViewAnimation::Form::BeginCommit, 0.2, 0, 0);
    animation->animationID = animationID;
    state().building.push_back(animation);
}

void UIView::setAnimationDuration(double duration) {
    if (auto* a = pendingBeginCommit()) a->duration = std::max(0.0, duration);
}
void UIView::setAnimationTransition(UIViewAnimationTransition transition, const std::shared_ptr<UIView>& view,
                                    bool cache) {
    (void)cache;
    if (auto* a = pendingBeginCommit()) {
        a->transition = transition;
        a->transitionView = view;
    }
}
void UIView::setAnimationDidStopHandler(std::function<void(const std::string&, bool)> handler) {
    auto* a = pendingBeginCommit();
    if (!a) return;
    auto& handlers = state().stopHandlers;
    std::erase_if(handlers, [&](const StopHandler& entry) { return entry.animation == a; });
    handlers.push_back({a, std::move(handler)});
}

void UIView::commitAnimations() {
    auto& s = state();
    auto it = std::find_if(s.building.rbegin(), s.building.rend(),
                           [](const auto& a) { return a->form == UIViewAnimation::Form::BeginCommit; });
    if (it == s.building.rend()) return;
    auto animation = *it;
    s.building.erase(std::next(it).base());
    std::function<void(bool)> completion;
    auto h = std::find_if(s.stopHandlers.begin(), s.stopHandlers.end(),
                          [&](const StopHandler& entry) { return entry.animation == animation.get(); });
    if (h != s.stopHandlers.end()) {
        completion = [handler = std::move(h->handler), id = animation->animationID](bool finished) {
            if (handler) handler(id, finished);
        };
        s.stopHandlers.erase(h);
    }
    UIViewAnimationDriver::commit(animation, std::move(completion));
}

std::vector<std::shared_ptr<UIViewAnimation>> UIView::animationLog() {
    const auto& log = state().log;
    return {log.begin(), log.end()};
}

void UIView::clearAnimationLog() { state().log.clear(); }
