// Handed to controllers when their view is about to change size (rotation): lets them run
// changes along with the transition and after it.
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <vector>

class UIViewControllerTransitionCoordinator : public NSObject {
public:
    using Block = std::function<void(const std::shared_ptr<UIViewControllerTransitionCoordinator>&)>;

    explicit UIViewControllerTransitionCoordinator(double duration) : duration_(duration) {}

    // `animation` runs inside the transition's animation block, `completion` when it is over.
    // Returns true, as the platform does when the transition is animated.
    bool animateAlongsideTransition(Block animation, Block completion);
    double transitionDuration() const { return duration_; }
    bool isAnimated() const { return duration_ > 0; }

    // The owner of the transition: runs the collected animations now and the completions
    // once the clock passes the duration.
    void run();

private:
    double duration_;
    std::vector<Block> animations_;
    std::vector<Block> completions_;
};
