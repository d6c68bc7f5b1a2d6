// The phone's picture-search overlay: a grouped table drawn and answered by the search
// delegate it is made with (which its owner keeps alive: the table holds it weakly).
#pragma once

#include "gallery/TableViewDelegate.h"
#include "platform/ui/UITableViewController.h"

class UIDBSearchResultsViewController : public UITableViewController {
public:
    static std::shared_ptr<UIDBSearchResultsViewController> initWithDelegate(
        const std::shared_ptr<TableViewDelegate>& delegate);
    UIDBSearchResultsViewController() : UITableViewController(UITableViewStyleGrouped) {}

    void viewDidLoad() override;

    // The grouped table's top gap is pulled up by this much.
    static constexpr CGFloat kTopInset = -40;
};
