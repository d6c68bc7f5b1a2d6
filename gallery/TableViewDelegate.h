// The base of the gallery's table delegates: data source and delegate of one table at once,
// reading the rows from a catalogue source and telling its owner of taps.
#pragma once

#include "content/DataSource.h"
#include "gallery/GalleryContext.h"
#include "gallery/TableViewDelegateProtocol.h"
#include "platform/ui/UITableView.h"

#include <memory>
#include <string>
#include <vector>

class TableViewDelegate : public NSObject, public UITableViewDataSource, public UITableViewDelegate {
public:
    static std::shared_ptr<TableViewDelegate> initWithDataSource(const std::shared_ptr<DataSource>& dataSource,
                                                                 const GalleryContext& context);
    TableViewDelegate(std::shared_ptr<DataSource> dataSource, GalleryContext context)
        : dataSource_(std::move(dataSource)), context_(std::move(context)) {}

    // The owner, held weakly.
    std::shared_ptr<TableViewDelegateProtocol> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<TableViewDelegateProtocol>& delegate) { delegate_ = delegate; }
    const std::shared_ptr<DataSource>& dataSource() const { return dataSource_; }
    void setDataSource(std::shared_ptr<DataSource> dataSource) { dataSource_ = std::move(dataSource); }
    const GalleryContext& galleryContext() const { return context_; }

    // The record at `row` of the subcategories of category `section`; empty outside the lists.
    std::shared_ptr<dataSubCat> subCatForIndexPath(const NSIndexPath& indexPath) const;

    long numberOfSectionsInTableView(const std::shared_ptr<UITableView>& tableView) override;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    // No cell here: every layout makes its own.
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    std::string titleForHeaderInSection(const std::shared_ptr<UITableView>&, long) override { return ""; }
    std::vector<std::string> sectionIndexTitlesForTableView(const std::shared_ptr<UITableView>&) override { return {}; }
    bool canEditRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return false; }
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

protected:
    // Selects the row (no animation, no scrolling) when the owner says it is selected, else
    // shows the cell unselected.
    void markSelection(const std::shared_ptr<UITableView>& tableView, const std::shared_ptr<UITableViewCell>& cell,
                       const NSIndexPath& indexPath);
    // The category records, or empty.
    CatList categories() const;

private:
    std::weak_ptr<TableViewDelegateProtocol> delegate_;
    std::shared_ptr<DataSource> dataSource_;
    GalleryContext context_;
};
