// The cross-promotion row: one underlined, centred line in the promotion colour.
#pragma once

#include "platform/ui/UITableViewCell.h"

#include <memory>
#include <string>

class UIColor;
class UILabel;
class UITableView;

class UIAdsCell : public UITableViewCell {
public:
    static constexpr const char* kReuseIdentifier = "UIAdsCell";

    // A flexible view in the given colour (the configuration's background colour).
    static std::shared_ptr<UIView> cellBackground(const std::shared_ptr<UIColor>& color);
    // A cell waiting for reuse in the table, else a new one over that background.
    static std::shared_ptr<UIAdsCell> cellForTable(const std::shared_ptr<UITableView>& tableView,
                                                   const std::shared_ptr<UIColor>& background);
    // The cell with the localised promotion line.
    static std::shared_ptr<UIAdsCell> sonvaleAdCell(const std::shared_ptr<UITableView>& tableView,
                                                    const std::shared_ptr<UIColor>& background);
    static std::shared_ptr<UIAdsCell> initWithStyle(UITableViewCellStyle style, const std::string& reuseIdentifier,
                                                    const std::shared_ptr<UIColor>& background);
    UIAdsCell(UITableViewCellStyle style, const std::string& reuseIdentifier, const std::shared_ptr<UIColor>& background);

    const std::shared_ptr<UILabel>& label() const { return label_; }
    // The text with a single underline.
    void setLabelText(const std::string& text);

private:
    std::shared_ptr<UILabel> label_;
};
