// A plain cell with a main and a detail line, laid out as the gallery's cell sheet has it.
#pragma once

#include "platform/ui/UITableViewCell.h"

#include <memory>
#include <string>

class UILabel;

class UIDetailCell : public UITableViewCell {
public:
    static std::shared_ptr<UIDetailCell> initWithStyle(UITableViewCellStyle style, const std::string& reuseIdentifier);
    UIDetailCell(UITableViewCellStyle style, const std::string& reuseIdentifier);

    const std::shared_ptr<UILabel>& mainText() const { return mainText_; }
    const std::shared_ptr<UILabel>& detailText() const { return detailText_; }

    static constexpr double kHeight = 80;

private:
    std::shared_ptr<UILabel> mainText_;
    std::shared_ptr<UILabel> detailText_;
};
