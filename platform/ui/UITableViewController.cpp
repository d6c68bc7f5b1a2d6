// Table screens: the table as the view, wired to the controller.
#include "platform/ui/UITableViewController.h"

#include "platform/ui/UIScreen.h"
#include "platform/ui/UITableViewCell.h"

std::shared_ptr<UITableView> UITableViewController::tableView() {
    return std::dynamic_pointer_cast<UITableView>(view());
}

std::shared_ptr<UITableViewCell> UITableViewController::cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                                              const NSIndexPath&) {
    return UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "");
}

void UITableViewController::loadView() {
    auto table = UITableView::initWithFrame(UIScreen::mainScreen()->bounds(), style_);
    table->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    auto self = std::static_pointer_cast<UITableViewController>(shared_from_this());
    table->setDataSource(self);
    table->setDelegate(self);
    setView(table);
}

void UITableViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    auto table = tableView();
    if (!table) return;
    if (!reloadedOnce_) {
        reloadedOnce_ = true;
        table->reloadData();
    }
    for (const auto& path : table->indexPathsForSelectedRows()) table->deselectRowAtIndexPath(path, animated);
}

void UITableViewController::setEditing(bool editing, bool animated) {
    UIViewController::setEditing(editing, animated);
    if (auto table = tableView()) table->setEditing(editing, animated);
}
