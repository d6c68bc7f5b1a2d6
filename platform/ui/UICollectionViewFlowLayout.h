// The flow layout's settings: item size, spacings, section insets, direction, header and
// footer sizes. The collection view lays items out with them (or the delegate's answers).
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"

#include <memory>

enum UICollectionViewScrollDirection : int {
    UICollectionViewScrollDirectionVertical = 0,
    UICollectionViewScrollDirectionHorizontal = 1,
};

class UICollectionViewFlowLayout : public NSObject {
public:
    static std::shared_ptr<UICollectionViewFlowLayout> make() { return std::make_shared<UICollectionViewFlowLayout>(); }

    CGSize itemSize() const { return itemSize_; }
    void setItemSize(CGSize size) { itemSize_ = size; }
    CGFloat minimumLineSpacing() const { return lineSpacing_; }
    void setMinimumLineSpacing(CGFloat spacing) { lineSpacing_ = spacing; }
    CGFloat minimumInteritemSpacing() const { return interitemSpacing_; }
    void setMinimumInteritemSpacing(CGFloat spacing) { interitemSpacing_ = spacing; }
    UIEdgeInsets sectionInset() const { return sectionInset_; }
    void setSectionInset(UIEdgeInsets inset) { sectionInset_ = inset; }
    UICollectionViewScrollDirection scrollDirection() const { return direction_; }
    void setScrollDirection(UICollectionViewScrollDirection direction) { direction_ = direction; }
    CGSize headerReferenceSize() const { return headerSize_; }
    CGSize footerReferenceSize() const { return footerSize_; }

private:
    CGSize itemSize_{50, 50};
    CGFloat lineSpacing_ = 10;
    CGFloat interitemSpacing_ = 10;
    UIEdgeInsets sectionInset_;
    UICollectionViewScrollDirection direction_ = UICollectionViewScrollDirectionVertical;
    CGSize headerSize_;
    CGSize footerSize_;
};
