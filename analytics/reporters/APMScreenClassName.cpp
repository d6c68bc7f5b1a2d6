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

// The window's stack as attached: none when absent, or (38000) when another object holds its place.
std::shared_ptr<APMControllerStack> attachedStack(const UIWindow& window) {
    const Value value = window.associatedValue(&gStackKey);
    if (!value.isObject()) return nullptr;
    auto stack = value.objectAs<APMControllerStack>();
    if (!stack) {
        APMMeasurementMonitor()->logWithLevel(4, 38000, "Found unknown associated object",
                                              Value(value.object() ? value.object()->className() : "nil"));
        const_cast<UIWindow&>(window).setAssociatedValue(&gStackKey, Value());
    }
    return stack;
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
    const Value value = controller.associatedValue(&gScreenKey);
    if (!value.isObject()) return nullptr;
    auto screen = value.objectAs<APMScreen>();
    if (!screen) {
        APMMeasurementMonitor()->logWithLevel(4, 36000, "Found unknown associated object",
                                              Value(value.object() ? value.object()->className() : "nil"));
        const_cast<UIViewController&>(controller).setAssociatedValue(&gScreenKey, Value());
    }
    return screen;
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
