// The owner side of an information cell: told when the cell's information button is tapped.
#pragma once

#include <memory>

class UIStandartInfoCell;

class UIInfoCellDelegate {
public:
    virtual ~UIInfoCellDelegate() = default;
    virtual void infoClicked(const std::shared_ptr<UIStandartInfoCell>& cell) = 0;
};
