// The view controllers' extension: the screen each controller keeps, the stack each window keeps,
// and the load that installs the screen-view hooks.
#include "analytics/reporters/APMScreenClassName.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/reporters/APMScreen.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>

namespace {

const char gScreenKey = 0;
const char gStackKey = 0;

// The object of type T attached to `owner` under `key`: none when absent, or when another object
// holds its place, which is told under `code` and let go.
template <typename T>
std::shared_ptr<T> attached(const NSObject& owner, const void* key, long code) {
    const Value value = owner.associatedValue(key);
    if (!value.isObject()) return nullptr;
    auto object = value.objectAs<T>();
    if (!object) {
        APMMeasurementMonitor()->logWithLevel(4, code, "Found unknown associated object",
                                              Value(value.object() ? value.object()->className() : "nil"));
        const_cast<NSObject&>(owner).setAssociatedValue(key, Value());
    }
    return object;
}

std::shared_ptr<APMControllerStack> attachedStack(const UIWindow& window) {
    return attached<APMControllerStack>(window, &gStackKey, 38000);
}

}  // namespace

void APMControllerStack::compact() {
    entries.erase(std::remove_if(entries.begin(), entries.end(), [](const auto& entry) { return entry.expired(); }),
                  entries.end());
}

std::vector<std::shared_ptr<UIViewController>> APMControllerStack::controllers() const {
    std::vector<std::shared_ptr<UIViewController>> result;
    for (const auto& entry : entries) {
        if (auto controller = entry.lock()) result.push_back(std::move(controller));
    }
    return result;
}

void APMControllerStack::remove(const UIViewController* controller) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [controller](const auto& entry) { return entry.lock().get() == controller; }),
                  entries.end());
}

void APMScreenClassName::load() { APMScreenViewReporter::installHooks(); }

std::shared_ptr<APMScreen> APMScreenClassName::apmScreen(const UIViewController& controller) {
    return attached<APMScreen>(controller, &gScreenKey, 36000);
}

void APMScreenClassName::setApmScreen(UIViewController& controller, const std::shared_ptr<APMScreen>& screen) {
    controller.setAssociatedValue(&gScreenKey, screen ? Value(screen) : Value());
}

std::vector<std::shared_ptr<UIViewController>> APMScreenClassName::apmStack(const UIWindow& window) {
    auto stack = attachedStack(window);
    return stack ? stack->controllers() : std::vector<std::shared_ptr<UIViewController>>{};
}

std::shared_ptr<APMControllerStack> APMScreenClassName::apmStackObject(UIWindow& window) {
    auto stack = attachedStack(window);
    return stack ? stack : replaceApmStack(window);
}

std::shared_ptr<APMControllerStack> APMScreenClassName::replaceApmStack(UIWindow& window) {
    auto stack = std::make_shared<APMControllerStack>();
    window.setAssociatedValue(&gStackKey, Value(stack));
    return stack;
}

const void* APMScreenAssociationKey() { return &gScreenKey; }
const void* APMStackAssociationKey() { return &gStackKey; }
