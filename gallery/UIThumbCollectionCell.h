// The grid cell of the thumbnail screen: one image view filling the cell, the index path it
// shows, and a callback told when the cell becomes selected.
#pragma once

#include "platform/ui/NSIndexPath.h"
#include "platform/ui/UICollectionViewCell.h"

#include <functional>
#include <memory>

class UIImageView;

class UIThumbCollectionCell : public UICollectionViewCell {
public:
    using SelectBlock = std::function<void(const NSIndexPath& indexPath)>;
    static constexpr const char* kReuseIdentifier = "CollectionCellIdentifier";

    static std::shared_ptr<UIThumbCollectionCell> initWithFrame(const CGRect& frame);
    explicit UIThumbCollectionCell(const CGRect& frame);

    const std::shared_ptr<UIImageView>& imageView() const { return imageView_; }
    const NSIndexPath& indexPath() const { return indexPath_; }
    void setIndexPath(const NSIndexPath& indexPath) { indexPath_ = indexPath; }
    const SelectBlock& selectBlock() const { return selectBlock_; }
    void setSelectBlock(SelectBlock block) { selectBlock_ = std::move(block); }

    // Becoming selected calls the select block with the index path.
    void setSelected(bool selected) override;

private:
    std::shared_ptr<UIImageView> imageView_;
    NSIndexPath indexPath_;
    SelectBlock selectBlock_;
};
