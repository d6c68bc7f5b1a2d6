// A tile of the music grids: a picture over a title and a detail line. A long press and the
// delete button it can show are reported to the delegate (the playlists grid).
#pragma once

#include "uikit/OEGridViewCell.h"

#include <memory>

class UICatGridCell;
class UICloseButton;
class UIImageView;
class UILabel;

class UICatGridCellDelegate {
public:
    virtual ~UICatGridCellDelegate() = default;
    virtual void catGridCellLongPressed(const std::shared_ptr<UICatGridCell>& cell) = 0;
    virtual void catGridCellPerformDelete(const std::shared_ptr<UICatGridCell>& cell) = 0;
};

class UICatGridCell : public OEGridViewCell {
public:
    static constexpr CGFloat kDeleteButtonSide = 30;
    // The delete button stands this far left of and above the picture's corner.
    static constexpr CGFloat kDeleteButtonOffset = 8;

    using OEGridViewCell::OEGridViewCell;

    std::shared_ptr<UIImageView> imageView() const { return imageView_.lock(); }
    std::shared_ptr<UILabel> textLabel() const { return textLabel_.lock(); }
    std::shared_ptr<UILabel> detailTextLabel() const { return detailTextLabel_.lock(); }
    std::shared_ptr<UICatGridCellDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<UICatGridCellDelegate>& delegate) { delegate_ = delegate; }
    bool editing() const { return editing_; }
    // Shows (YES) or removes (NO) the delete button.
    void setEditing(bool editing);
    // Present only while editing.
    const std::shared_ptr<UICloseButton>& deleteButton() const { return deleteButton_; }

    void longPress() override;
    void editClick();

    // The tile as the interface file "CompositionsViews" lays it out (its first object).
    static std::shared_ptr<UICatGridCell> loadFromCompositionsViews();

private:
    std::weak_ptr<UIImageView> imageView_;
    std::weak_ptr<UILabel> textLabel_;
    std::weak_ptr<UILabel> detailTextLabel_;
    std::weak_ptr<UICatGridCellDelegate> delegate_;
    bool editing_ = false;
    std::shared_ptr<UICloseButton> deleteButton_;
};
