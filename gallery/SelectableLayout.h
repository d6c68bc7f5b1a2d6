// What the selectable layouts share, on top of the layout they extend: a tap picks or unpicks
// the row's subcategory and redraws the row, and the "new_item" mark in the cell's corner shows
// the pick. `SelectableCell` is the layout's cell with that mark.
#pragma once

#include "gallery/GalleryPicks.h"
#include "gallery/TableViewDelegate.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UITableView.h"

#include <memory>
#include <utility>

template <class Layout, class Cell, class SelectableCell>
class SelectableLayout : public Layout {
public:
    // With a dictionary given, the picks go into that very object, so its creator sees them.
    SelectableLayout(std::shared_ptr<DataSource> dataSource, GalleryContext context,
                     std::shared_ptr<Value::Dictionary> selectedCats)
        : Layout(std::move(dataSource), std::move(context)),
          selectedCats_(selectedCats ? std::move(selectedCats) : std::make_shared<Value::Dictionary>()) {}

    void setCurrentCellParams(const std::shared_ptr<Cell>& cell, const std::shared_ptr<UITableView>& tableView,
                              const NSIndexPath& indexPath) override {
        Layout::setCurrentCellParams(cell, tableView, indexPath);
        auto selectable = std::dynamic_pointer_cast<SelectableCell>(cell);
        if (!selectable) return;
        const auto record = this->subCatForIndexPath(indexPath);
        const bool picked = record && GalleryPicks::isPicked(*selectedCats_, record->index());
        selectable->selectImageMark()->setImage(picked ? UIImage::imageNamed("new_item") : nullptr);
    }

    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override {
        Layout::didSelectRowAtIndexPath(tableView, indexPath);
        const auto record = this->subCatForIndexPath(indexPath);
        if (!record) return;
        GalleryPicks::toggle(*selectedCats_, record->index());
        tableView->reloadRowsAtIndexPaths({indexPath}, UITableViewRowAnimationFade);
    }

    const std::shared_ptr<Value::Dictionary>& selectedCats() const { return selectedCats_; }

private:
    std::shared_ptr<Value::Dictionary> selectedCats_;
};
