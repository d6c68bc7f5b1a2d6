// Fonts: a name, a size and a weight; the metrics are fixed fractions of the size.
#include "platform/ui/UIFont.h"

#include "platform/foundation/NSString.h"

#include <functional>

UIFont::UIFont(std::string name, CGFloat size, bool bold) : name_(std::move(name)), size_(size), bold_(bold) {
    const auto dash = name_.find('-');
    family_ = dash == std::string::npos ? name_ : name_.substr(0, dash);
}

std::shared_ptr<UIFont> UIFont::systemFontOfSize(CGFloat size) {
    return std::make_shared<UIFont>(".SFUI-Regular", size, false);
}
std::shared_ptr<UIFont> UIFont::boldSystemFontOfSize(CGFloat size) {
    return std::make_shared<UIFont>(".SFUI-Semibold", size, true);
}
std::shared_ptr<UIFont> UIFont::fontWithName(const std::string& name, CGFloat size) {
    return std::make_shared<UIFont>(name, size, NSString::containsString(name, "Bold"));
}

std::shared_ptr<UIFont> UIFont::fontWithSize(CGFloat size) const { return std::make_shared<UIFont>(name_, size, bold_); }

bool UIFont::isEqual(const NSObject* other) const {
    const auto* font = dynamic_cast<const UIFont*>(other);
    return font && font->name_ == name_ && font->size_ == size_ && font->bold_ == bold_;
}

std::size_t UIFont::hash() const { return std::hash<std::string>()(name_) * 31 + std::hash<double>()(size_); }

std::string UIFont::description() const {
    return NSString::format("<UIFont: %@; font-size: %gpt%@>", name_, size_, bold_ ? "; bold" : "");
}
