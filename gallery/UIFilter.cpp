// The filter screen.
#include "gallery/UIFilter.h"

#include "gallery/GalleryCellText.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableViewCell.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <algorithm>
#include <set>

std::shared_ptr<UIFilter> UIFilter::filterWithDataSource(const std::shared_ptr<DataSource>& source,
                                                         const std::shared_ptr<dataSubCat>& subCat,
                                                         const std::string& filterField,
                                                         const std::optional<std::vector<std::string>>& selectedFilters,
                                                         GalleryContext context) {
    auto list = listForFilterBy(filterField, source, subCat);
    std::stable_sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
        return NSString::caseInsensitiveCompare(a, b) == NSOrderedAscending;
    });
    return initWithFiltersList(std::move(list), selectedFilters.value_or(std::vector<std::string>{}), std::move(context));
}

std::vector<std::string> UIFilter::listForFilterBy(const std::string& field, const std::shared_ptr<DataSource>& source,
                                                   const std::shared_ptr<dataSubCat>& subCat) {
    std::vector<std::string> values;
    const auto rows = source ? source->list(subCat) : nullptr;
    if (!rows) return values;
    for (const auto& row : *rows) {
        const Value* value = row.find(field);
        if (!value || value->isNull()) continue;
        std::string text = value->stringValue();
        if (std::find(values.begin(), values.end(), text) != values.end()) continue;
        values.push_back(std::move(text));
    }
    return values;
}

std::shared_ptr<UIFilter> UIFilter::initWithFiltersList(std::vector<std::string> filterList,
                                                        const std::vector<std::string>& selectedFilters,
                                                        GalleryContext context) {
    auto filter = std::make_shared<UIFilter>(std::move(context));
    filter->filterList_ = std::move(filterList);
    filter->selectedFilters_ = selectedFilters;
    return filter;
}

std::vector<std::string> UIFilter::collectCheckedListWithFilterList(
    const std::vector<std::string>& filterList, const std::optional<std::vector<std::string>>& selectedItems) {
    return selectedItems ? *selectedItems : filterList;
}

void UIFilter::loadView() {
    UIViewController::loadView();
    tableView_ = UITableView::initWithFrame(view()->bounds(), UITableViewStyleGrouped);
    tableView_->setDelegate(self<UIFilter>());
    tableView_->setDataSource(self<UIFilter>());
    tableView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    view()->addSubview(tableView_);
}

void UIFilter::viewDidLoad() {
    UIViewController::viewDidLoad();
    navigationItem()->setTitle(OECoreString("Select Filter"));
    const auto& config = context_.app.config;
    const auto color = config && config->color() ? config->color()->backgroundColor()
                                                 : OEColorConfig::Color::groupTableViewBackground();
    view()->setBackgroundColor(UIColor::colorWithRed(color.red, color.green, color.blue, color.alpha));
    std::weak_ptr<UIFilter> weakSelf = self<UIFilter>();
    navigationItem()->setLeftBarButtonItem(makeDoneButton(self<UIFilter>(), [weakSelf](const std::shared_ptr<NSObject>&) {
        if (auto me = weakSelf.lock()) me->doneClick();
    }));
    updateSelectButton();
}

bool UIFilter::isAllSelected() const {
    return std::set<std::string>(filterList_.begin(), filterList_.end()) ==
           std::set<std::string>(selectedFilters_.begin(), selectedFilters_.end());
}

bool UIFilter::isSelected(const std::string& value) const {
    return std::find(selectedFilters_.begin(), selectedFilters_.end(), value) != selectedFilters_.end();
}

void UIFilter::updateSelectButton() {
    std::weak_ptr<UIFilter> weakSelf = self<UIFilter>();
    navigationItem()->setRightBarButtonItem(makePlainButtonWithTitle(
        self<UIFilter>(), OECoreString(isAllSelected() ? "Deselect All" : "Select All"),
        [weakSelf](const std::shared_ptr<NSObject>&) {
            if (auto me = weakSelf.lock()) me->allClick();
        }));
}

void UIFilter::allClick() {
    if (isAllSelected()) {
        selectedFilters_ = {};
        selectedFilters_.reserve(filterList_.size());
    } else {
        selectedFilters_ = filterList_;
    }
    if (tableView_) tableView_->reloadSections({0}, UITableViewRowAnimationFade);
    updateSelectButton();
}

void UIFilter::doneClick() {
    std::weak_ptr<UIFilter> weakSelf = self<UIFilter>();
    dismissViewControllerAnimated(true, [weakSelf] {
        auto me = weakSelf.lock();
        if (!me) return;
        if (auto delegate = me->delegate()) delegate->filterSelectedItems(me->selectedFilters_);
    });
}

long UIFilter::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) {
    return static_cast<long>(filterList_.size());
}

std::shared_ptr<UITableViewCell> UIFilter::cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                 const NSIndexPath& indexPath) {
    auto cell = tableView->dequeueReusableCellWithIdentifier(kCellIdentifier);
    if (!cell) {
        cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, kCellIdentifier);
        cell->setAccessoryType(UITableViewCellAccessoryNone);
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
        if (GalleryCellText::isPhone()) cell->textLabel()->setFont(UIFont::systemFontOfSize(17));
    }
    const std::string value = indexPath.row >= 0 && indexPath.row < static_cast<long>(filterList_.size())
                                  ? filterList_[static_cast<std::size_t>(indexPath.row)]
                                  : std::string();
    cell->textLabel()->setText(value);
    cell->imageView()->setImage(UIImage::imageNamed(isSelected(value) ? "cb_dark_on" : "cb_dark_off"));
    setAccessibilityToggle(*cell, isSelected(value));
    return cell;
}

void UIFilter::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    tableView->deselectRowAtIndexPath(indexPath, true);
    if (indexPath.row < 0 || indexPath.row >= static_cast<long>(filterList_.size())) return;
    const std::string value = filterList_[static_cast<std::size_t>(indexPath.row)];
    if (isSelected(value)) {
        selectedFilters_.erase(std::remove(selectedFilters_.begin(), selectedFilters_.end(), value),
                               selectedFilters_.end());
    } else {
        selectedFilters_.push_back(value);
    }
    tableView->reloadRowsAtIndexPaths({indexPath}, UITableViewRowAnimationNone);
    updateSelectButton();
}
