// The songs of one category.
#include "media/UICompositionsViewController.h"

#include "content/FileDownloader.h"
#include "media/CompositionCat.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerItem.h"
#include "platform/foundation/NSBundle.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableView.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<UICompositionsViewController> UICompositionsViewController::initWithSource(
    std::shared_ptr<CompositionsSource> source, std::shared_ptr<CompositionCat> cat, MusicContext context) {
    return std::make_shared<UICompositionsViewController>(std::move(source), std::move(cat), std::move(context));
}

UICompositionsViewController::UICompositionsViewController(std::shared_ptr<CompositionsSource> source,
                                                           std::shared_ptr<CompositionCat> cat, MusicContext context)
    : OECompositionsTableViewController(UITableViewStyleGrouped, std::move(source), std::move(context)),
      selectedCat_(std::move(cat)) {}

void UICompositionsViewController::viewDidLoad() {
    OECompositionsTableViewController::viewDidLoad();
    if (selectedCat_) setTitle(selectedCat_->name());
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
}

void UICompositionsViewController::viewWillAppear(bool animated) {
    OECompositionsTableViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(toolbarItems().empty(), animated);
    updateToolbarItems(animated);
}

MediaItems UICompositionsViewController::sourceItems() {
    return source() ? source()->compositionsForCat(selectedCat_) : MediaItems{};
}

MediaItems UICompositionsViewController::notDownloadedItems() {
    return source() ? source()->notDownloadedItemsForCat(selectedCat_) : MediaItems{};
}

void UICompositionsViewController::updateToolbarItems(bool animated) {
    // Shipped tracks are on the device too; only what can be fetched counts.
    bool missing = false;
    for (const auto& item : notDownloadedItems()) missing = missing || !item->exists();
    std::vector<std::shared_ptr<UIBarButtonItem>> items;
    if (missing && context().downloads) {
        std::weak_ptr<UICompositionsViewController> weak =
            std::static_pointer_cast<UICompositionsViewController>(shared_from_this());
        items = {UIBarButtonItemCommon::makeFlexButton(),
                 makePlainButtonWithTitle(std::static_pointer_cast<UIViewController>(shared_from_this()),
                                          NSBundle::mainBundle()->localizedStringForKey("Download All", "", "FileDownloader"),
                                          [weak](const auto&) {
                                              if (auto self = weak.lock()) self->downloadAllClick();
                                          })};
    }
    setToolbarItems(items, animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(items.empty(), animated);
}

void UICompositionsViewController::downloadAllClick() {
    if (!context().downloads) return;
    for (const auto& item : notDownloadedItems())
        if (!item->exists()) context().downloads->addFile(item->path());
    tableView()->reloadData();
}
