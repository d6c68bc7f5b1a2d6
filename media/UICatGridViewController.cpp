// The pad's category grid.
#include "media/UICatGridViewController.h"

#include "media/CompositionsCellsHelper.h"
#include "media/CompositionsSearch.h"
#include "media/UICatGridCell.h"
#include "media/UICompositionsViewController.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OEGridView.h"
#include "uikit/UIGridViewWithPageControll.h"

#include <algorithm>

std::shared_ptr<UICatGridViewController> UICatGridViewController::initWithSource(std::shared_ptr<CompositionsSource> source,
                                                                                 MusicContext context) {
    return std::make_shared<UICatGridViewController>(std::move(source), std::move(context));
}

void UICatGridViewController::viewDidLoad() {
    UIGridViewController::viewDidLoad();
    view()->setBackgroundColor(context_.backgroundColor());
}

CompositionCats UICatGridViewController::shownCats() {
    if (searching_) return lastSearch_;
    return source_ ? source_->compositionsCats() : CompositionCats{};
}

long UICatGridViewController::numberOfCellsInGridView(const std::shared_ptr<OEGridView>&) {
    return static_cast<long>(shownCats().size());
}

std::shared_ptr<OEGridViewCell> UICatGridViewController::gridViewCellAtIndex(const std::shared_ptr<OEGridView>&,
                                                                             unsigned long index) {
    auto cell = UICatGridCell::loadFromCompositionsViews();
    const auto cats = shownCats();
    if (index < cats.size()) {
        const auto& cat = cats[index];
        cell->textLabel()->setText(cat->name());
        setAccessibilityLabel(*cell, cat->name());
        cell->detailTextLabel()->setText(
            CompositionsCellsHelper::compositionsCountText(cat->compositions_count()));
        const CGSize shown = cell->imageView()->bounds().size;
        cell->imageView()->setImage(cat->image(std::max(shown.width, shown.height)));
    }
    return cell;
}

std::shared_ptr<UIViewController> UICatGridViewController::itemDetailsViewController(unsigned long index) {
    const auto cats = shownCats();
    if (index >= cats.size()) return nullptr;
    auto panel = UINavigationController::initWithRootViewController(
        UICompositionsViewController::initWithSource(source_, cats[index], context_));
    // The panel's toolbar stands on the panel, not over the dimmed grid.
    panel->view()->setBackgroundColor(context_.backgroundColor());
    return panel;
}

void UICatGridViewController::handleSearch(const std::string& text) {
    searching_ = true;
    auto search = source_ ? source_->getSearch() : nullptr;
    lastSearch_ = search ? search->handleSearchCat(text) : CompositionCats{};
    reloadGrid();
}

void UICatGridViewController::cancelSearch() {
    searching_ = false;
    lastSearch_.clear();
    reloadGrid();
}

void UICatGridViewController::reloadGrid() {
    if (!isViewLoaded() || !gridView()) return;
    gridView()->gridView()->reloadData();
    setupPageControl();
}
