// The question for a new playlist's name, the same on both devices: "New Playlist" with a text
// field, "Ok" and "Cancel".
#pragma once

#include <functional>
#include <memory>
#include <string>

class UIViewController;

namespace PlayListNameAlert {
// Presents the alert over `screen`; "Ok" hands the text as typed (an empty name included) to
// `named` while the screen is still there.
void present(const std::shared_ptr<UIViewController>& screen, std::function<void(const std::string&)> named);
}  // namespace PlayListNameAlert
