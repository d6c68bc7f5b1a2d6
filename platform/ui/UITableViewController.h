// A screen whose view is a table, and which is the table's data source and delegate.
// Subclasses answer the data-source calls; the table reloads on its first appearance and
// drops its selection each time it appears.
#pragma once

#include "platform/ui/UITableView.h"
#include "platform/ui/UIViewController.h"

#include <memory>

class UITableViewController : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    explicit UITableViewController(UITableViewStyle style = UITableViewStylePlain) : style_(style) {}
    static std::shared_ptr<UITableViewController> initWithStyle(UITableViewStyle style) {
        return std::make_shared<UITableViewController>(style);
    }

    // Loads the view on first use.
    std::shared_ptr<UITableView> tableView();
    UITableViewStyle style() const { return style_; }

    // No rows unless a subclass says otherwise.
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return 0; }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                           const NSIndexPath&) override;

    void loadView() override;
    void viewWillAppear(bool animated) override;
    // The table follows the controller into and out of editing.
    void setEditing(bool editing, bool animated) override;

private:
    UITableViewStyle style_;
    bool reloadedOnce_ = false;
};
