// The recogniser state machine, the competition between recognisers of one touch sequence,
// failure requirements, and the view's list of recognisers.
#include "platform/ui/UIGestureRecognizer.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/UITouch.h"
#include "platform/ui/UIView.h"

#include <algorithm>

namespace {

std::vector<std::weak_ptr<UIGestureRecognizer>>& arena() {
    static auto* list = new std::vector<std::weak_ptr<UIGestureRecognizer>>;  // main thread only; never destroyed
    return *list;
}

std::vector<std::weak_ptr<UIGestureRecognizer>>& waiting() {
    static auto* list = new std::vector<std::weak_ptr<UIGestureRecognizer>>;
    return *list;
}

bool isActive(UIGestureRecognizerState s) {
    return s == UIGestureRecognizerState::Began || s == UIGestureRecognizerState::Changed;
}

bool isOver(UIGestureRecognizerState s) {
    return s == UIGestureRecognizerState::Ended || s == UIGestureRecognizerState::Cancelled ||
           s == UIGestureRecognizerState::Failed;
}

}  // namespace

UIGestureRecognizer::UIGestureRecognizer() = default;

UIGestureRecognizer::~UIGestureRecognizer() {
    if (timerToken_) NSRunLoop::mainRunLoop()->cancelPerformRequests(timerToken_.get());
}

void UIGestureRecognizer::addTarget(const std::shared_ptr<NSObject>& target, Action action) {
    if (!action) return;
    targets_.push_back({target, target != nullptr, std::move(action)});
}

void UIGestureRecognizer::sendActions() {
    auto self = std::static_pointer_cast<UIGestureRecognizer>(shared_from_this());
    const auto targets = targets_;
    for (const auto& t : targets) {
        std::shared_ptr<NSObject> keep;
        if (t.hasTarget) {
            keep = t.target.lock();
            if (!keep) continue;
        }
        t.action(self);
    }
}

void UIGestureRecognizer::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled && isActive(state_)) setState(UIGestureRecognizerState::Cancelled);
}

void UIGestureRecognizer::requireGestureRecognizerToFail(const std::shared_ptr<UIGestureRecognizer>& other) {
    if (other && other.get() != this) requiredToFail_.push_back(other);
}

bool UIGestureRecognizer::simultaneousWith(UIGestureRecognizer& other) {
    if (auto d = delegate())
        if (d->gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(*this, other)) return true;
    if (auto d = other.delegate())
        if (d->gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(other, *this)) return true;
    return false;
}

bool UIGestureRecognizer::shouldReceiveTouch(UITouch& touch) {
    if (!enabled_) return false;
    if (auto d = delegate()) return d->gestureRecognizerShouldReceiveTouch(*this, touch);
    return true;
}

void UIGestureRecognizer::setState(UIGestureRecognizerState newState) {
    auto self = std::static_pointer_cast<UIGestureRecognizer>(shared_from_this());
    if (newState == UIGestureRecognizerState::Failed) {
        if (state_ == UIGestureRecognizerState::Failed) return;
        state_ = UIGestureRecognizerState::Failed;
        pending_ = UIGestureRecognizerState::Possible;
        cancelTimer();
        failureOf(this);
        return;
    }
    if (newState == UIGestureRecognizerState::Possible) {
        state_ = newState;
        return;
    }
    if (state_ != UIGestureRecognizerState::Possible) {
        // Already recognising: Changed, Ended and Cancelled follow Began; nothing follows an end.
        if (!isActive(state_)) return;
        state_ = newState;
        sendActions();
        return;
    }
    if (newState != UIGestureRecognizerState::Began && newState != UIGestureRecognizerState::Recognized) return;

    if (!canBegin()) {
        setState(UIGestureRecognizerState::Failed);
        return;
    }
    if (auto d = delegate()) {
        if (!d->gestureRecognizerShouldBegin(*this)) {
            setState(UIGestureRecognizerState::Failed);
            return;
        }
    }
    // Another recogniser already in charge of these touches keeps them.
    for (const auto& other : activeRecognizers()) {
        if (other.get() == this) continue;
        if ((isActive(other->state_) || (other->state_ == UIGestureRecognizerState::Recognized && !other->isContinuous())) &&
            !simultaneousWith(*other)) {
            setState(UIGestureRecognizerState::Failed);
            return;
        }
    }
    const auto taking = activeRecognizers();
    for (const auto& weakOther : requiredToFail_) {
        auto other = weakOther.lock();
        if (!other) continue;
        if (other->state_ == UIGestureRecognizerState::Failed) continue;
        // One that does not see these touches (its view is out of the way) cannot recognise them.
        if (other->state_ == UIGestureRecognizerState::Possible &&
            std::find(taking.begin(), taking.end(), other) == taking.end())
            continue;
        if (other->state_ == UIGestureRecognizerState::Possible) {
            // Wait for the other one to decide.
            pending_ = newState;
            waiting().push_back(self);
            return;
        }
        setState(UIGestureRecognizerState::Failed);
        return;
    }
    pending_ = UIGestureRecognizerState::Possible;
    state_ = newState;
    cancelTimer();
    // The winner takes the touches from the others that could not share them.
    for (const auto& other : activeRecognizers()) {
        if (other.get() == this || other->state_ != UIGestureRecognizerState::Possible) continue;
        bool waitsForThis = false;
        for (const auto& w : other->requiredToFail_)
            if (w.lock() == self) waitsForThis = true;
        if (waitsForThis || !simultaneousWith(*other)) other->setState(UIGestureRecognizerState::Failed);
    }
    sendActions();
}

void UIGestureRecognizer::failureOf(UIGestureRecognizer*) {
    auto list = waiting();
    for (const auto& weak : list)
        if (auto r = weak.lock()) r->retryPending();
    auto& w = waiting();
    w.erase(std::remove_if(w.begin(), w.end(),
                           [](const auto& weak) {
                               auto r = weak.lock();
                               return !r || r->pending_ == UIGestureRecognizerState::Possible;
                           }),
            w.end());
}

void UIGestureRecognizer::retryPending() {
    if (pending_ == UIGestureRecognizerState::Possible || state_ != UIGestureRecognizerState::Possible) return;
    for (const auto& weakOther : requiredToFail_) {
        auto other = weakOther.lock();
        if (other && other->state_ == UIGestureRecognizerState::Possible) return;  // still undecided
    }
    const auto target = pending_;
    pending_ = UIGestureRecognizerState::Possible;
    setState(target);
    resetFinished();
}

CGPoint UIGestureRecognizer::locationInView(const std::shared_ptr<UIView>& view) const {
    if (touches_.empty()) {
        if (!view) return lastLocation_;
        return view->convertPointFromView(lastLocation_, nullptr);
    }
    CGPoint sum;
    for (const auto& t : touches_) {
        const CGPoint p = t->locationInView(view);
        sum.x += p.x;
        sum.y += p.y;
    }
    return {sum.x / static_cast<double>(touches_.size()), sum.y / static_cast<double>(touches_.size())};
}

void UIGestureRecognizer::addTouches(const UITouchList& touches) {
    for (const auto& t : touches)
        if (std::find(touches_.begin(), touches_.end(), t) == touches_.end()) touches_.push_back(t);
    if (!touches_.empty()) lastLocation_ = touches_.back()->windowLocation();
}

void UIGestureRecognizer::removeTouches(const UITouchList& touches) {
    for (const auto& t : touches) {
        lastLocation_ = t->windowLocation();
        touches_.erase(std::remove(touches_.begin(), touches_.end(), t), touches_.end());
    }
}

void UIGestureRecognizer::touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>&) { addTouches(touches); }
void UIGestureRecognizer::touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>&) {
    if (!touches.empty()) lastLocation_ = touches.back()->windowLocation();
}
void UIGestureRecognizer::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>&) {
    removeTouches(touches);
}
void UIGestureRecognizer::touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>&) {
    removeTouches(touches);
    if (isActive(state_)) setState(UIGestureRecognizerState::Cancelled);
    else if (state_ == UIGestureRecognizerState::Possible) setState(UIGestureRecognizerState::Failed);
}

void UIGestureRecognizer::reset() {
    state_ = UIGestureRecognizerState::Possible;
    pending_ = UIGestureRecognizerState::Possible;
    touches_.clear();
    cancelTimer();
}

void UIGestureRecognizer::startTimer(double seconds, std::function<void()> fire) {
    cancelTimer();
    timerToken_ = std::make_shared<NSObject>();
    std::weak_ptr<UIGestureRecognizer> weak = std::static_pointer_cast<UIGestureRecognizer>(shared_from_this());
    NSRunLoop::mainRunLoop()->performAfterDelay(
        timerToken_,
        [weak, fire = std::move(fire)] {
            auto self = weak.lock();
            if (!self) return;
            self->timerToken_.reset();
            fire();
            resetFinished();
        },
        seconds);
}

void UIGestureRecognizer::cancelTimer() {
    if (!timerToken_) return;
    NSRunLoop::mainRunLoop()->cancelPerformRequests(timerToken_.get());
    timerToken_.reset();
}

std::vector<std::shared_ptr<UIGestureRecognizer>> UIGestureRecognizer::activeRecognizers() {
    std::vector<std::shared_ptr<UIGestureRecognizer>> out;
    for (const auto& weak : arena())
        if (auto r = weak.lock()) out.push_back(r);
    return out;
}

void UIGestureRecognizer::addActive(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
    for (const auto& weak : arena())
        if (weak.lock() == recognizer) return;
    arena().push_back(recognizer);
}

void UIGestureRecognizer::resetFinished() {
    auto& list = arena();
    std::vector<std::shared_ptr<UIGestureRecognizer>> done;
    for (const auto& weak : list) {
        auto r = weak.lock();
        if (!r) continue;
        const bool over = isOver(r->state_) && r->touches_.empty();
        const bool idle = r->state_ == UIGestureRecognizerState::Possible && r->touches_.empty() && !r->timerToken_ &&
                          r->pending_ == UIGestureRecognizerState::Possible;
        if (over || idle) done.push_back(r);
    }
    // A recogniser that others wait on must not reset while they still wait on its outcome.
    for (const auto& r : done) {
        bool awaited = false;
        for (const auto& weak : waiting()) {
            auto w = weak.lock();
            if (!w || w == r) continue;
            for (const auto& req : w->requiredToFail_)
                if (req.lock() == r && r->state_ == UIGestureRecognizerState::Possible) awaited = true;
        }
        if (awaited) continue;
        r->reset();
        list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& weak) { return weak.lock() == r || weak.expired(); }),
                   list.end());
    }
}

// --- The view's side ----------------------------------------------------------------------

void UIView::addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
    if (!recognizer) return;
    if (auto old = recognizer->view()) {
        if (old.get() == this) return;
        old->removeGestureRecognizer(recognizer);
    }
    gestureRecognizers_.push_back(recognizer);
    recognizer->attachToView(std::static_pointer_cast<UIView>(shared_from_this()));
}

void UIView::removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
    const auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
    if (it == gestureRecognizers_.end()) return;
    gestureRecognizers_.erase(it);
    recognizer->attachToView(nullptr);
}
