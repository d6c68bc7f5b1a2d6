// The measurement side's extension of the view controllers and windows: its load hooks the
// controllers' appearance, and each controller keeps its screen and each window its stack.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <vector>

class APMScreen;
class UIViewController;
class UIWindow;

// The weak stack of tracked controllers a window keeps, oldest first. A controller that has gone
// leaves its entry in place until the stack is compacted, so the first entry stays the first.
class APMControllerStack : public NSObject {
public:
    std::vector<std::weak_ptr<UIViewController>> entries;

    void compact();
    std::vector<std::shared_ptr<UIViewController>> controllers() const;
    void remove(const UIViewController* controller);
};

namespace APMScreenClassName {

// Once per process: unless screen reporting is off, an older analytics library is present or an
// appearance implementation is missing (each told to the utility library's logger), every view
// controller's appearance and disappearance reach the shared screen-view reporter after the
// original implementation has run.
void load();

// The screen attached to a controller (nothing, or 36000 and nothing for a foreign object); once
// set it stays with the controller.
std::shared_ptr<APMScreen> apmScreen(const UIViewController& controller);
void setApmScreen(UIViewController& controller, const std::shared_ptr<APMScreen>& screen);
// The window's stack of tracked controllers (38000 and none for a foreign object), oldest first.
std::vector<std::shared_ptr<UIViewController>> apmStack(const UIWindow& window);
// The stack itself, made empty and attached when absent, for the reporter to change.
std::shared_ptr<APMControllerStack> apmStackObject(UIWindow& window);
// A new empty stack in place of the window's present one.
std::shared_ptr<APMControllerStack> replaceApmStack(UIWindow& window);

}  // namespace APMScreenClassName

// The keys under which the screen and the stack are attached, for tests that attach another object.
const void* APMScreenAssociationKey();
const void* APMStackAssociationKey();
