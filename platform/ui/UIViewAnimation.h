// One recorded view animation: its timing, options and transition, what it changed, and how
// it ended. The final values are applied at once; only the completion waits for the clock.
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class UIView;

enum UIViewAnimationOptions : unsigned {
    UIViewAnimationOptionLayoutSubviews = 1 << 0,
    UIViewAnimationOptionAllowUserInteraction = 1 << 1,
    UIViewAnimationOptionBeginFromCurrentState = 1 << 2,
    UIViewAnimationOptionRepeat = 1 << 3,
    UIViewAnimationOptionAutoreverse = 1 << 4,
    UIViewAnimationOptionOverrideInheritedDuration = 1 << 5,
    UIViewAnimationOptionOverrideInheritedCurve = 1 << 6,
    UIViewAnimationOptionAllowAnimatedContent = 1 << 7,
    UIViewAnimationOptionShowHideTransitionViews = 1 << 8,
    UIViewAnimationOptionOverrideInheritedOptions = 1 << 9,
    UIViewAnimationOptionCurveEaseInOut = 0 << 16,
    UIViewAnimationOptionCurveEaseIn = 1 << 16,
    UIViewAnimationOptionCurveEaseOut = 2 << 16,
    UIViewAnimationOptionCurveLinear = 3 << 16,
    UIViewAnimationOptionTransitionNone = 0 << 20,
    UIViewAnimationOptionTransitionFlipFromLeft = 1 << 20,
    UIViewAnimationOptionTransitionFlipFromRight = 2 << 20,
    UIViewAnimationOptionTransitionCurlUp = 3 << 20,
    UIViewAnimationOptionTransitionCurlDown = 4 << 20,
    UIViewAnimationOptionTransitionCrossDissolve = 5 << 20,
    UIViewAnimationOptionTransitionFlipFromTop = 6 << 20,
    UIViewAnimationOptionTransitionFlipFromBottom = 7 << 20,
};

enum UIViewAnimationTransition : int {
    UIViewAnimationTransitionNone = 0,
    UIViewAnimationTransitionFlipFromLeft = 1,
    UIViewAnimationTransitionFlipFromRight = 2,
    UIViewAnimationTransitionCurlUp = 3,
    UIViewAnimationTransitionCurlDown = 4,
};

enum UIViewAnimationCurve : int {
    UIViewAnimationCurveEaseInOut = 0,
    UIViewAnimationCurveEaseIn = 1,
    UIViewAnimationCurveEaseOut = 2,
    UIViewAnimationCurveLinear = 3,
};

class UIViewAnimation : public NSObject {
public:
    enum class Form { Block, Spring, BeginCommit };

    struct Change {
        std::weak_ptr<UIView> view;
        const UIView* address;
        std::string key;
        bool supersededFlag = false;
        // Where an opacity change starts: the alpha drawn when it was made.
        double from = 0;
    };

    Form form = Form::Block;
    std::string animationID;  // begin/commit only
    double duration = 0;
    double delay = 0;
    unsigned options = 0;
    UIViewAnimationCurve curve = UIViewAnimationCurveEaseInOut;
    UIViewAnimationTransition transition = UIViewAnimationTransitionNone;  // begin/commit
    std::weak_ptr<UIView> transitionView;
    double springDamping = 0;
    double initialVelocity = 0;
    double startTime = 0;  // clock time when it began
    std::vector<Change> changes;

    double endTime() const { return startTime + delay + duration; }
    // The option's transition bits (block form) or the begin/commit transition, as an option value.
    unsigned transitionOption() const;
    bool beginsFromCurrentState() const { return (options & UIViewAnimationOptionBeginFromCurrentState) != 0; }
    // The completion has run.
    bool isCompleted() const { return completed_; }
    // The value the completion got (true until a later animation takes something over).
    bool finished() const { return finished_; }
    bool changed(const UIView* view, const std::string& key) const;

private:
    friend struct UIViewAnimationDriver;
    bool completed_ = false;
    bool finished_ = true;
    std::function<void(bool)> completion_;
};
