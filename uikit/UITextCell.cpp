// The text cell only forwards to the platform cell; its labels are set by whoever lays it out.
#include "uikit/UITextCell.h"

#include "platform/ui/UILabel.h"

std::shared_ptr<UITextCell> UITextCell::initWithStyle(UITableViewCellStyle style, const std::string& reuseIdentifier) {
    return std::make_shared<UITextCell>(style, reuseIdentifier);
}

UITextCell::UITextCell(UITableViewCellStyle style, const std::string& reuseIdentifier)
    : UITableViewCell(style, reuseIdentifier) {}

void UITextCell::setSelected(bool selected, bool animated) { UITableViewCell::setSelected(selected, animated); }
