// One picture in the pager, shown from a reader.
#include "texts/ReaderScreens.h"

#include "config/OEConfig.h"
#include "content/Loader.h"
#include "content/OneImage_DataSource.h"
#include "content/dataSubCat.h"
#include "content/dbEntry.h"
#include "gallery/CellsGallery.h"
#include "gallery/PhotoPageViewController.h"
#include "gallery/UIImageCell.h"
#include "gallery/UIThumbailViewController.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISplitViewController.h"

namespace ReaderScreens {

bool isPad() {
    auto device = UIDevice::currentDevice();
    return device->canReportUserInterfaceIdiom() && device->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
}

std::shared_ptr<UITableViewCell> posterCell(const std::shared_ptr<UITableView>& tableView,
                                            const Value::Dictionary& picture, const std::string& mainText,
                                            const std::string& detailText, bool isNew, const TextsContext& context) {
    const std::string identifier = CellsGallery::reuseIdentifierAtIndex(CellsGallery::kImageCellPosters);
    auto cell = std::dynamic_pointer_cast<UIImageCell>(tableView->dequeueReusableCellWithIdentifier(identifier));
    if (!cell) {
        cell = std::dynamic_pointer_cast<UIImageCell>(CellsGallery::cellAtIndex(CellsGallery::kImageCellPosters));
        if (!cell) return nullptr;
        if (!isPad()) cell->mainText()->setFont(UIFont::systemFontOfSize(16));
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
        // A reading has no information of its own to show.
        cell->infoButton()->setHidden(true);
    }
    // Signs of an earlier use go.
    const auto thumbnail = cell->image();
    for (const auto& sign : std::vector<std::shared_ptr<UIView>>(thumbnail->subviews())) sign->removeFromSuperview();
    UIThumbailViewController::loadThumbnailForImageView(thumbnail, picture, context.gallery);
    if (isNew) {
        auto sign = UIThumbailViewController::addImageSign("new_item", thumbnail);
        sign->setAutoresizingMask(UIViewAutoresizingFlexibleRightMargin | UIViewAutoresizingFlexibleTopMargin);
        sign->setFrame(UIThumbailViewController::newSignFrameIn(thumbnail, sign->frame()));
    }
    cell->mainText()->setText(mainText);
    cell->detailText()->setText(detailText);
    return cell;
}

std::shared_ptr<UIViewController> pagerForPicture(std::int64_t pictureIndex, const TextsContext& context) {
    const auto& app = context.app();
    if (!app.config || !app.fileSystem || !app.localizations) return nullptr;
    auto source = OneImage_DataSource::initWithLoader(
        Loader::loaderWithDBEntry(dbEntry::defaultEntry(app.config->database()), app), pictureIndex);
    auto pager = PhotoPageViewController::initWithImagesData(
        source->list(), dataSubCat::dataSubCatWithName("", *app.localizations), 0, context.gallery);
    if (pager) pager->setDataSource(source);
    return pager;
}

void showPhotoController(const std::shared_ptr<UIViewController>& from, const std::shared_ptr<UIViewController>& controller) {
    if (!from || !controller) return;
    auto split = from->splitViewController();
    if (isPad() && split) {
        auto navigation = UINavigationController::initWithRootViewController(controller);
        navigation->setModalTransitionStyle(UIModalTransitionStyle::CrossDissolve);
        split->presentViewController(navigation, true, nullptr);
    } else if (auto navigation = from->navigationController()) {
        navigation->pushViewController(controller, true);
    }
}

void showReading(const std::shared_ptr<UIViewController>& list, const std::shared_ptr<UIViewController>& screen,
                 bool inSplit) {
    auto split = inSplit ? list->splitViewController() : nullptr;
    if (split) {
        std::shared_ptr<UIViewController> own = list->navigationController();
        split->setViewControllers({own ? own : list, UINavigationController::initWithRootViewController(screen)});
    } else if (auto navigation = list->navigationController()) {
        navigation->pushViewController(screen, true);
    }
}

}  // namespace ReaderScreens
