// The gallery's cell sheet: the six top-level cells the table delegates take by index, each
// with its reuse identifier and layout.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class UITableViewCell;

class CellsGallery {
public:
    enum Index : std::size_t {
        kImageCell = 0,
        kDetailCell = 1,
        kImageCellPosters = 2,
        kStandartCellInfo = 3,
        kImageCellSelectable = 4,
        kStandartCellInfoSelectable = 5,
        kCount = 6,
    };
    // A fresh cell of the sheet at `index`; empty past the end.
    static std::shared_ptr<UITableViewCell> cellAtIndex(std::size_t index);
    static std::string reuseIdentifierAtIndex(std::size_t index);
};
