// What each image button of the interface does, named for a person who does not see the
// image (the text screen and a screen reader read it), by the image the button shows.
#pragma once

#include <memory>
#include <string>

class UIButton;

namespace OEImageButtonNames {

// "" for an image no button shows.
std::string nameForImage(const std::string& imageName);
// Shows the image on the button (normal state) and names the button after what it now does.
void setImage(const std::shared_ptr<UIButton>& button, const std::string& imageName);

}  // namespace OEImageButtonNames
