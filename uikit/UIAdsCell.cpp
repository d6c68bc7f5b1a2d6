// The promotion cell: backgrounds in the configured colour and the underlined label.
#include "uikit/UIAdsCell.h"

#include "config/OEConfig.h"
#include "platform/foundation/NSBundle.h"
#include "platform/ui/NSAttributedString.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITableView.h"

std::shared_ptr<UIView> UIAdsCell::cellBackground() {
    auto view = UIView::initWithFrame(CGRectZero);
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    const auto color = OEConfig::current()->color()->backgroundColor();
    view->setBackgroundColor(UIColor::colorWithRed(color.red, color.green, color.blue, color.alpha));
    return view;
}

std::shared_ptr<UIAdsCell> UIAdsCell::cellForTable(const std::shared_ptr<UITableView>& tableView) {
    if (tableView) {
        if (auto cell = std::dynamic_pointer_cast<UIAdsCell>(tableView->dequeueReusableCellWithIdentifier(kReuseIdentifier))) {
            return cell;
        }
    }
    return initWithStyle(UITableViewCellStyleDefault, kReuseIdentifier);
}

std::shared_ptr<UIAdsCell> UIAdsCell::sonvaleAdCell(const std::shared_ptr<UITableView>& tableView) {
    auto cell = cellForTable(tableView);
    cell->setLabelText(NSLocalizedStringFromTable("Need more classical music? Get it free right now!", "Core"));
    return cell;
}

std::shared_ptr<UIAdsCell> UIAdsCell::initWithStyle(UITableViewCellStyle style, const std::string& reuseIdentifier) {
    return std::make_shared<UIAdsCell>(style, reuseIdentifier);
}

UIAdsCell::UIAdsCell(UITableViewCellStyle style, const std::string& reuseIdentifier)
    : UITableViewCell(style, reuseIdentifier) {
    setBackgroundView(cellBackground());
    setSelectedBackgroundView(cellBackground());
    setSelectionStyle(UITableViewCellSelectionStyleNone);
    auto content = contentView();
    const CGSize size = content->bounds().size;
    label_ = UILabel::initWithFrame(CGRectMake(10, 0, size.width - 20, size.height));
    label_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    label_->setTextAlignment(NSTextAlignmentCenter);
    label_->setNumberOfLines(2);
    label_->setFont(UIFont::systemFontOfSize(16));
    label_->setTextColor(UIColor::colorWithRed(99.0 / 255, 205.0 / 255, 255.0 / 255, 1.0));
    label_->setBackgroundColor(UIColor::clearColor());
    content->addSubview(label_);
}

void UIAdsCell::setLabelText(const std::string& text) {
    NSStringAttributes attributes;
    attributes.underlineStyle = NSUnderlineStyleSingle;
    label_->setAttributedText(NSAttributedString::initWithString(text, attributes));
}
