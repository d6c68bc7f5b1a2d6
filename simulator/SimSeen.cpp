// A view fading out is still seen until its fade ends.
#include "simulator/SimSeen.h"

#include "platform/ui/UIView.h"

bool simSeen(const UIView& view) {
    return !view.isHidden() && (view.alpha() >= 0.01 || view.presentationAlpha() > view.alpha());
}
