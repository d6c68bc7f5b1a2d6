// The measurement side's extension of the view controllers and windows: its load hooks the
// controllers' appearance, and each controller keeps its screen and each window its stack.
#pragma once

#include <memory>
#include <vector>

class APMScreen;
class UIViewController;
class UIWindow;

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

}  // namespace APMScreenClassName
