// The first responder and its observers, and passing events up the chain.
#include "platform/ui/UIResponder.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <map>

namespace {
// Interface objects live on the main thread; the lock only guards the observer table.
std::weak_ptr<UIResponder>& firstResponder() {
    static std::weak_ptr<UIResponder> responder;
    return responder;
}
Mutex observersMutex;
std::map<std::uint64_t, UIResponder::FirstResponderObserver>& observers() REQUIRES(observersMutex) {
    static std::map<std::uint64_t, UIResponder::FirstResponderObserver> table;
    return table;
}
std::uint64_t nextToken GUARDED_BY(observersMutex) = 1;

void notifyChange(const std::shared_ptr<UIResponder>& previous, const std::shared_ptr<UIResponder>& current) {
    std::map<std::uint64_t, UIResponder::FirstResponderObserver> copy;
    {
        MutexLock lock(observersMutex);
        copy = observers();
    }
    for (auto& [token, observer] : copy) observer(previous, current);
}
}  // namespace

std::shared_ptr<UIResponder> UIResponder::currentFirstResponder() { return firstResponder().lock(); }

bool UIResponder::isFirstResponder() const { return firstResponder().lock().get() == this; }

bool UIResponder::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder()) return false;
    auto previous = firstResponder().lock();
    if (previous) {
        if (!previous->canResignFirstResponder()) return false;
        firstResponder().reset();
        previous->didResignFirstResponder();
    }
    auto self = std::static_pointer_cast<UIResponder>(shared_from_this());
    firstResponder() = self;
    didBecomeFirstResponder();
    notifyChange(previous, self);
    return true;
}

bool UIResponder::resignFirstResponder() {
    if (!isFirstResponder()) return true;
    if (!canResignFirstResponder()) return false;
    auto self = std::static_pointer_cast<UIResponder>(shared_from_this());
    firstResponder().reset();
    didResignFirstResponder();
    notifyChange(self, nullptr);
    return true;
}

std::uint64_t UIResponder::addFirstResponderObserver(FirstResponderObserver observer) {
    MutexLock lock(observersMutex);
    const std::uint64_t token = nextToken++;
    observers()[token] = std::move(observer);
    return token;
}

void UIResponder::removeFirstResponderObserver(std::uint64_t token) {
    MutexLock lock(observersMutex);
    observers().erase(token);
}

void UIResponder::touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (auto next = nextResponder()) next->touchesBegan(touches, event);
}
void UIResponder::touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (auto next = nextResponder()) next->touchesMoved(touches, event);
}
void UIResponder::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (auto next = nextResponder()) next->touchesEnded(touches, event);
}
void UIResponder::touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (auto next = nextResponder()) next->touchesCancelled(touches, event);
}
void UIResponder::remoteControlReceivedWithEvent(const std::shared_ptr<UIEvent>& event) {
    if (auto next = nextResponder()) next->remoteControlReceivedWithEvent(event);
}
