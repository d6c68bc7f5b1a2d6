// Where the rating prompt presents: the root controller of the normal-level key window, and the
// top-most controller presented over a controller.
#pragma once

#include <memory>

class UIViewController;

class MRaterTools {
public:
    // The key window, or the first window of the normal level when the key window is not one;
    // the first of its subviews whose next responder is a controller gives the answer, as the
    // top-most controller over it. Empty when there is none.
    static std::shared_ptr<UIViewController> getRootController();
    static std::shared_ptr<UIViewController> topMostViewController(const std::shared_ptr<UIViewController>& controller);
};
