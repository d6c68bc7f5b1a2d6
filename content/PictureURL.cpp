// Server file addresses with encoded names.
#include "content/PictureURL.h"

#include "config/FileSystem.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PercentEncoding.h"

#include <vector>

std::string encodedPicturePath(const std::string& path) {
    static const URLAllowedCharacterSet allowed = URLAllowedCharacterSet::URLPathAllowed().removingCharactersInString("/;");
    std::vector<std::string> parts = NSString::componentsSeparatedByString(path, "/");
    for (auto& part : parts) part = stringByAddingPercentEncodingWithAllowedCharacters(part, allowed);
    return NSString::componentsJoinedByString(parts, "/");
}

std::optional<std::string> pictureURLWithFormat(const std::string& format, const std::string& imagePath) {
    const auto slot = format.find("%@");
    if (slot == std::string::npos || !FileSystem::isSafeRelativePath(imagePath)) return std::nullopt;
    std::string url = format;
    url.replace(slot, 2, encodedPicturePath(imagePath));
    return url;
}
