// A plain cell whose two labels are its own (the cell sheet places them), not the built-in ones.
#pragma once

#include "platform/ui/UITableViewCell.h"

#include <memory>
#include <string>

class UILabel;

class UITextCell : public UITableViewCell {
public:
    static std::shared_ptr<UITextCell> initWithStyle(UITableViewCellStyle style, const std::string& reuseIdentifier);
    UITextCell(UITableViewCellStyle style, const std::string& reuseIdentifier);

    // These stand in for the inherited labels.
    const std::shared_ptr<UILabel>& textLabel() const { return textLabel_; }
    void setTextLabel(std::shared_ptr<UILabel> label) { textLabel_ = std::move(label); }
    const std::shared_ptr<UILabel>& detailTextLabel() const { return detailTextLabel_; }
    void setDetailTextLabel(std::shared_ptr<UILabel> label) { detailTextLabel_ = std::move(label); }

    void setSelected(bool selected, bool animated) override;

private:
    std::shared_ptr<UILabel> textLabel_;
    std::shared_ptr<UILabel> detailTextLabel_;
};
