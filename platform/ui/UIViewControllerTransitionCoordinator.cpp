// The size-transition coordinator: alongside animations inside one view animation block.
#include "platform/ui/UIViewControllerTransitionCoordinator.h"

#include "platform/ui/UIView.h"

bool UIViewControllerTransitionCoordinator::animateAlongsideTransition(Block animation, Block completion) {
    if (animation) animations_.push_back(std::move(animation));
    if (completion) completions_.push_back(std::move(completion));
    return true;
}

void UIViewControllerTransitionCoordinator::run() {
    auto self = std::static_pointer_cast<UIViewControllerTransitionCoordinator>(shared_from_this());
    auto animations = std::move(animations_);
    auto completions = std::move(completions_);
    UIView::animateWithDuration(
        duration_, 0, 0,
        [&] {
            for (const auto& a : animations) a(self);
        },
        [self, completions](bool) {
            for (const auto& c : completions) c(self);
        });
}
