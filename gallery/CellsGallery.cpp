// The cell sheet built in code: classes, reuse identifiers and row heights of the six cells.
#include "gallery/CellsGallery.h"

#include "gallery/UIImageCell.h"
#include "gallery/UIImageCellSelectable.h"
#include "uikit/UIDetailCell.h"
#include "uikit/UIStandartInfoCell.h"
#include "uikit/UIStandartInfoCellSelectable.h"

std::string CellsGallery::reuseIdentifierAtIndex(std::size_t index) {
    switch (index) {
    case kImageCell: return "ImageCell";
    case kDetailCell: return "DetailCell";
    case kImageCellPosters: return "ImageCellPosters";
    case kStandartCellInfo: return "standartCellInfo";
    case kImageCellSelectable: return "ImageCellSelectable";
    case kStandartCellInfoSelectable: return "standartCellInfo";
    default: return "";
    }
}

std::shared_ptr<UITableViewCell> CellsGallery::cellAtIndex(std::size_t index) {
    const std::string identifier = reuseIdentifierAtIndex(index);
    switch (index) {
    case kImageCell: return UIImageCell::initWithStyle(UITableViewCellStyleDefault, identifier);
    case kDetailCell: return UIDetailCell::initWithStyle(UITableViewCellStyleDefault, identifier);
    case kImageCellPosters: return UIImageCell::initWithStyle(UITableViewCellStyleDefault, identifier, 120);
    case kStandartCellInfo: return UIStandartInfoCell::initWithStyle(UITableViewCellStyleDefault, identifier);
    case kImageCellSelectable: return UIImageCellSelectable::initWithStyle(UITableViewCellStyleDefault, identifier);
    case kStandartCellInfoSelectable:
        return UIStandartInfoCellSelectable::initWithStyle(UITableViewCellStyleDefault, identifier);
    default: return nullptr;
    }
}
