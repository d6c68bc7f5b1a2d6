// A list cell with a name, a detail line and an information button that tells its delegate.
#pragma once

#include "platform/ui/UITableViewCell.h"
#include "uikit/UIInfoCellDelegate.h"

#include <memory>
#include <string>

class NSObject;
class UIButton;
class UILabel;

class UIStandartInfoCell : public UITableViewCell {
public:
    // Made through here so the information button can reach the cell.
    static std::shared_ptr<UIStandartInfoCell> initWithStyle(UITableViewCellStyle style,
                                                             const std::string& reuseIdentifier);
    UIStandartInfoCell(UITableViewCellStyle style, const std::string& reuseIdentifier);

    const std::shared_ptr<UIButton>& infoButton() const { return infoButton_; }
    const std::shared_ptr<UILabel>& label() const { return label_; }
    const std::shared_ptr<UILabel>& detail() const { return detail_; }
    std::shared_ptr<UIInfoCellDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<UIInfoCellDelegate>& delegate) { delegate_ = delegate; }

    // The information button's action: the delegate, when there is one, hears of the cell.
    void buttonClick(const std::shared_ptr<NSObject>& sender);

protected:
    // Connects the button's action once the cell is shared.
    void connectButton();

private:
    std::shared_ptr<UIButton> infoButton_;
    std::shared_ptr<UILabel> label_;
    std::shared_ptr<UILabel> detail_;
    std::weak_ptr<UIInfoCellDelegate> delegate_;
};
