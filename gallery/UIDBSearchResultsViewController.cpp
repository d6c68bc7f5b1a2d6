// The phone's picture-search overlay.
#include "gallery/UIDBSearchResultsViewController.h"

std::shared_ptr<UIDBSearchResultsViewController> UIDBSearchResultsViewController::initWithDelegate(
    const std::shared_ptr<TableViewDelegate>& delegate) {
    auto controller = std::make_shared<UIDBSearchResultsViewController>();
    controller->tableView()->setDataSource(delegate);
    controller->tableView()->setDelegate(delegate);
    return controller;
}

void UIDBSearchResultsViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    tableView()->setContentInset(UIEdgeInsetsMake(kTopInset, 0, 0, 0));
}
