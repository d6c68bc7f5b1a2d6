// The filter screen: every distinct value of one field among a subcategory's pictures (the
// authors, say), sorted, each with a check box; Select All / Deselect All, and Done hands the
// ticked values to the delegate.
#pragma once

#include "content/DataSource.h"
#include "gallery/FilterProtocol.h"
#include "gallery/GalleryContext.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIViewController.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class UIFilter : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    // The field's distinct values among the subcategory's rows, sorted case-insensitively; the
    // given selection, or none.
    static std::shared_ptr<UIFilter> filterWithDataSource(const std::shared_ptr<DataSource>& source,
                                                          const std::shared_ptr<dataSubCat>& subCat,
                                                          const std::string& filterField,
                                                          const std::optional<std::vector<std::string>>& selectedFilters,
                                                          GalleryContext context);
    // The field's values in the order of their first row; rows without it add nothing.
    static std::vector<std::string> listForFilterBy(const std::string& field, const std::shared_ptr<DataSource>& source,
                                                    const std::shared_ptr<dataSubCat>& subCat);
    static std::shared_ptr<UIFilter> initWithFiltersList(std::vector<std::string> filterList,
                                                         const std::vector<std::string>& selectedFilters,
                                                         GalleryContext context);
    // A copy of the selection, or of the whole list when there is none.
    static std::vector<std::string> collectCheckedListWithFilterList(
        const std::vector<std::string>& filterList, const std::optional<std::vector<std::string>>& selectedItems);

    explicit UIFilter(GalleryContext context) : context_(std::move(context)) {}

    std::shared_ptr<FilterProtocol> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<FilterProtocol>& delegate) { delegate_ = delegate; }
    const std::vector<std::string>& filterList() const { return filterList_; }
    void setFilterList(std::vector<std::string> list) { filterList_ = std::move(list); }
    // In the order they were ticked.
    const std::vector<std::string>& selectedFilters() const { return selectedFilters_; }
    void setSelectedFilters(std::vector<std::string> selected) { selectedFilters_ = std::move(selected); }
    const std::shared_ptr<UITableView>& tableView() const { return tableView_; }

    void loadView() override;
    void viewDidLoad() override;

    // The ticked values are the listed ones, as sets: a kept selection holding a value the list
    // no longer has is not all of the list.
    bool isAllSelected() const;
    bool isSelected(const std::string& value) const;
    // "Deselect All" when all are ticked, else "Select All".
    void updateSelectButton();
    void allClick();
    // Dismisses the screen; once it is gone the delegate gets the ticked values.
    void doneClick();

    long numberOfSectionsInTableView(const std::shared_ptr<UITableView>&) override { return 1; }
    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

    static constexpr const char* kCellIdentifier = "filterCell";

private:
    GalleryContext context_;
    std::weak_ptr<FilterProtocol> delegate_;
    std::vector<std::string> filterList_;
    std::vector<std::string> selectedFilters_;
    std::shared_ptr<UITableView> tableView_;
};
