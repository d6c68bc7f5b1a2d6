// Localised values through the given localisations, and the case-insensitive replacement.
#include "gallery/GalleryCellText.h"

#include "platform/ui/UIDevice.h"

#include <cctype>

namespace GalleryCellText {

std::string localizedName(const OELocalizations& locale, const Value::Dictionary& row) {
    return locale.localizedNameFieldValue(row);
}

std::string localizedDescription(const OELocalizations& locale, const Value::Dictionary& row) {
    return locale.localizedDescriptionFieldValue(row);
}

std::string localizedAuthor(const OELocalizations& locale, const Value::Dictionary& row) {
    return locale.localizedAuthorFieldValue(row);
}

bool isPhone() {
    const auto device = UIDevice::currentDevice();
    return !device->canReportUserInterfaceIdiom() || device->userInterfaceIdiom() == UIUserInterfaceIdiom::Phone;
}

std::string replacingCaseInsensitive(const std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    auto matchesAt = [&](std::size_t at) {
        for (std::size_t i = 0; i < from.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(text[at + i])) !=
                std::tolower(static_cast<unsigned char>(from[i])))
                return false;
        }
        return true;
    };
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (i + from.size() <= text.size() && matchesAt(i)) {
            out += to;
            i += from.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

}  // namespace GalleryCellText
