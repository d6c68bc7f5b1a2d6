// The promotion cell: backgrounds in the configured colour and the underlined label.
#include "uikit/UIAdsCell.h"

#include "platform/foundation/NSBundle.h"
#include "platform/ui/NSAttributedString.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITableView.h"

std::shared_ptr<UIView> UIAdsCell::cellBackground(const std::shared_ptr<UIColor>& color) {
    auto view = UIView::initWithFrame(CGRectZero);
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    view->setBackgroundColor(color);
    return view;
}

std::shared_ptr<UIAdsCell> UIAdsCell::cellForTable(const std::shared_ptr<UITableView>& tableView,
                                                   const std::shared_ptr<UIColor>& background) {
    if (tableView) {
        if (auto cell = std::dynamic_pointer_cast<UIAdsCell>(tableView->dequeueReusableCellWithIdentifier(kReuseIdentifier))) {
            return cell;
        }
    }
    return initWithStyle(UITableViewCellStyleDefault, kReuseIdentifier, background);
}

std::shared_ptr<UIAdsCell> UIAdsCell::sonvaleAdCell(const std::shared_ptr<UITableView>& tableView,
                                                    const std::shared_ptr<UIColor>& background) {
    auto cell = cellForTable(tableView, background);
    cell->setLabelText(NSLocalizedStringFromTable("Need more classical music? Get it free right now!", "Core"));
    return cell;
}

std::shared_ptr<UIAdsCell> UIAdsCell::initWithStyle(UITableViewCellStyle style, const std::string& reuseIdentifier,
                                                    const std::shared_ptr<UIColor>& background) {
    return std::make_shared<UIAdsCell>(style, reuseIdentifier, background);
}

UIAdsCell::UIAdsCell(UITableViewCellStyle style, const std::string& reuseIdentifier,
                     const std::shared_ptr<UIColor>& background)
    : UITableViewCell(style, reuseIdentifier) {
    setBackgroundView(cellBackground(background));
    setSelectedBackgroundView(cellBackground(background));
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
