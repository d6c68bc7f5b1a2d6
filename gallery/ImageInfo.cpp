// The full-name rule.
#include "gallery/ImageInfo.h"

std::string ImageInfo::imageTextWithSeparator(const std::string& separator) const {
    std::string text = author();
    if (!text.empty()) {
        if (text.back() == '.' && separator == ".") text.pop_back();
        text += separator;
    }
    text += name();
    return text;
}
