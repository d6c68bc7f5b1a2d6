// The two alert actions every screen uses: "Ok" and "Cancel", titled from the "Core" table.
#pragma once

#include "platform/ui/UIAlertAction.h"

#include <functional>
#include <memory>

namespace UIAlertActionDefault {
// "Ok", default style; runs `closure` (when given) when tapped.
std::shared_ptr<UIAlertAction> okAction(std::function<void()> closure);
// "Cancel", cancel style, no handler.
std::shared_ptr<UIAlertAction> cancel();
}  // namespace UIAlertActionDefault
