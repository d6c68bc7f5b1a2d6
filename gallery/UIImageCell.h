// The picture row cell: a thumbnail, the two detail lines and an information button.
#pragma once

#include "uikit/UIDetailCell.h"

#include <functional>
#include <memory>
#include <string>

class NSObject;
class UIButton;
class UIImageView;

class UIImageCell : public UIDetailCell {
public:
    using InfoClickBlock = std::function<void(const std::shared_ptr<UIImageCell>& cell)>;

    // Made through here so the information button can reach the cell.
    static std::shared_ptr<UIImageCell> initWithStyle(UITableViewCellStyle style, const std::string& reuseIdentifier,
                                                      double height = kPictureRowHeight);
    UIImageCell(UITableViewCellStyle style, const std::string& reuseIdentifier, double height = kPictureRowHeight);

    const std::shared_ptr<UIImageView>& image() const { return image_; }
    const std::shared_ptr<UIButton>& infoButton() const { return infoButton_; }
    const InfoClickBlock& infoClickBlock() const { return infoClickBlock_; }
    void setInfoClickBlock(InfoClickBlock block) { infoClickBlock_ = std::move(block); }

    // The information button's action.
    void infoCLick(const std::shared_ptr<NSObject>& sender);

    static constexpr double kPictureRowHeight = 115;

protected:
    void connectButton();

private:
    std::shared_ptr<UIImageView> image_;
    std::shared_ptr<UIButton> infoButton_;
    InfoClickBlock infoClickBlock_;
};
