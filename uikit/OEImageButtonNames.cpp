// The names of the image buttons, by image.
#include "uikit/OEImageButtonNames.h"

#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIImage.h"

#include <map>

namespace OEImageButtonNames {

std::string nameForImage(const std::string& imageName) {
    static const std::map<std::string, std::string> names{
        {"menu", "menu"},
        {"menu_media", "compositions"},
        {"lupa", "search"},
        {"favorite", "favorites"},
        {"favorite_off", "favorite"},
        {"favorite_on", "favorite"},
        {"filter_off", "filter"},
        {"filter_on", "filter"},
        {"info_picture", "information"},
        {"i", "information"},
        {"back", "previous picture"},
        {"forward", "next picture"},
        {"action", "share"},
        {"button_hd", "HD"},
        {"button_hd_up", "HD"},
        {"slide", "slideshow"},
        {"pause_slide", "pause slideshow"},
        {"see_picture", "show picture"},
        {"aleft", "align left"},
        {"ajustify", "justify"},
        {"acenter", "center"},
        {"play", "play"},
        {"paused", "pause"},
        {"media_prev", "previous"},
        {"media_next", "next"},
        {"r", "repeat"},
        {"r_up", "repeat"},
        {"r.1", "repeat"},
        {"s", "shuffle"},
        {"s_up", "shuffle"},
        {"media_download", "download"},
        {"media_cancel", "cancel download"},
        {"media_download_bar", "downloads"},
        {"media_plus", "add"},
        {"playlist", "play"},
        {"airPlayBtn", "output"},
        {"airPlayBtn_up", "output"},
    };
    const auto it = names.find(imageName);
    return it == names.end() ? std::string() : it->second;
}

void setImage(const std::shared_ptr<UIButton>& button, const std::string& imageName) {
    if (!button) return;
    button->setImage(UIImage::imageNamed(imageName), UIControlStateNormal);
    setAccessibilityLabel(*button, nameForImage(imageName));
}

}  // namespace OEImageButtonNames
