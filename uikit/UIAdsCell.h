// The cross-promotion row: one underlined, centred line in the promotion colour.
#pragma once

#include "platform/ui/UITableViewCell.h"

#include <memory>
#include <string>

class UILabel;
class UITableView;

class UIAdsCell : public UITableViewCell {
public:
    static constexpr const char* kReuseIdentifier = "UIAdsCell";

    // A flexible view in the configured background colour.
    static std::shared_ptr<UIView> cellBackground();
    // A cell waiting for reuse in the table, else a new one.
    static std::shared_ptr<UIAdsCell> cellForTable(const std::shared_ptr<UITableView>& tableView);
    // The cell with the localised promotion line.
    static std::shared_ptr<UIAdsCell> sonvaleAdCell(const std::shared_ptr<UITableView>& tableView);
    static std::shared_ptr<UIAdsCell> initWithStyle(UITableViewCellStyle style, const std::string& reuseIdentifier);
    UIAdsCell(UITableViewCellStyle style, const std::string& reuseIdentifier);

    const std::shared_ptr<UILabel>& label() const { return label_; }
    // The text with a single underline.
    void setLabelText(const std::string& text);

private:
    std::shared_ptr<UILabel> label_;
};
