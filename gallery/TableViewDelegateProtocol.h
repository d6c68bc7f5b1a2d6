// The owner side of the gallery's table delegates: told of taps and information buttons, and
// asked which rows to show selected.
#pragma once

#include "platform/ui/NSIndexPath.h"

#include <memory>

class DataSource;
class UITableViewCell;

class TableViewDelegateProtocol {
public:
    virtual ~TableViewDelegateProtocol() = default;
    virtual void itemSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) {
        (void)indexPath;
        (void)dataSource;
    }
    virtual bool isSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) {
        (void)indexPath;
        (void)dataSource;
        return false;
    }
    virtual void showInfoForCell(const std::shared_ptr<UITableViewCell>& cell,
                                 const std::shared_ptr<DataSource>& dataSource) {
        (void)cell;
        (void)dataSource;
    }
};
