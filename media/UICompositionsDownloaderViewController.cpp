// The music downloads.
#include "media/UICompositionsDownloaderViewController.h"

#include "content/FileDownloader.h"
#include "gallery/UIFileDownloadCell.h"
#include "media/CompositionsCellsHelper.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerItem.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <algorithm>

std::shared_ptr<UICompositionsDownloaderViewController> UICompositionsDownloaderViewController::initWithStyle(
    UITableViewStyle style, std::shared_ptr<CompositionsSource> source, std::shared_ptr<FileDownloader> downloader,
    MusicContext context) {
    return std::make_shared<UICompositionsDownloaderViewController>(style, std::move(source), std::move(downloader),
                                                                    std::move(context));
}

UICompositionsDownloaderViewController::UICompositionsDownloaderViewController(UITableViewStyle style,
                                                                               std::shared_ptr<CompositionsSource> source,
                                                                               std::shared_ptr<FileDownloader> downloader,
                                                                               MusicContext context)
    : UIFileDownloaderViewController(std::move(downloader), style), source_(std::move(source)),
      context_(std::move(context)) {
    setPreferredContentSize(downloadPopoverSize());
}

CGSize UICompositionsDownloaderViewController::downloadPopoverSize() const {
    const float n = static_cast<float>(numberOfDownloads()) * 44.0f;
    if (n == 0) return CGSize{200, 44};
    return CGSize{600, std::min(n, 600.0f)};
}

void UICompositionsDownloaderViewController::viewDidLoad() {
    UIFileDownloaderViewController::viewDidLoad();
    std::weak_ptr<UICompositionsDownloaderViewController> weak =
        std::static_pointer_cast<UICompositionsDownloaderViewController>(shared_from_this());
    navigationItem()->setRightBarButtonItem(UIBarButtonItemCommon::makePlainButtonWithTitle(
        OECoreString("Stop all"), nullptr, [weak](const auto&) {
            if (auto self = weak.lock()) self->stopAllClick();
        }));
    navigationItem()->setTitle(OECoreString("Downloading"));
    tableView()->setBackgroundColor(context_.backgroundColor());
}

void UICompositionsDownloaderViewController::viewWillAppear(bool animated) {
    UIFileDownloaderViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, animated);
}

void UICompositionsDownloaderViewController::viewDidAppear(bool animated) {
    UIFileDownloaderViewController::viewDidAppear(animated);
    appeared_ = true;
    // On the next turn: the navigation controller is still finishing the push.
    std::weak_ptr<UICompositionsDownloaderViewController> weak =
        std::static_pointer_cast<UICompositionsDownloaderViewController>(shared_from_this());
    DispatchQueue::mainQueue()->async([weak] {
        if (auto self = weak.lock()) self->closeWhenEmptyOnPhone();
    });
}

void UICompositionsDownloaderViewController::viewWillDisappear(bool animated) {
    appeared_ = false;
    UIFileDownloaderViewController::viewWillDisappear(animated);
}

void UICompositionsDownloaderViewController::customizeCell(const std::shared_ptr<UIFileDownloadCell>& cell) {
    CompositionsCellsHelper::configureCommonCellParams(cell);
    cell->fileName()->setTextColor(UIColor::whiteColor());
    cell->progressText()->setTextColor(UIColor::colorWithRed(0.843137, 0.843137, 0.843137, 1.0));
    cell->textLabel()->setTextColor(UIColor::lightGrayColor());
}

std::string UICompositionsDownloaderViewController::cellTitle(const std::string& fileName) const {
    // The path has no translations: compared as stored.
    auto item = source_ ? source_->findItem(fileName, "filepath") : nullptr;
    return item ? item->fieldValue("name") : "";
}

void UICompositionsDownloaderViewController::reloadData() {
    UIFileDownloaderViewController::reloadData();
    setPreferredContentSize(downloadPopoverSize());
    closeWhenEmptyOnPhone();
}

void UICompositionsDownloaderViewController::closeWhenEmptyOnPhone() {
    const bool phone = UIDevice::currentDevice()->userInterfaceIdiom() != UIUserInterfaceIdiom::Pad;
    if (appeared_ && phone && numberOfDownloads() == 0) close();
}

void UICompositionsDownloaderViewController::stopAllClick() {
    std::weak_ptr<UICompositionsDownloaderViewController> weak =
        std::static_pointer_cast<UICompositionsDownloaderViewController>(shared_from_this());
    showAskAlertWithMessage(self<UIViewController>(), OECoreString("Stop all downloads?"), [weak] {
        if (auto self = weak.lock()) self->stop();
    });
}

void UICompositionsDownloaderViewController::stop() {
    downloader()->cancelAll();
    close();
}

void UICompositionsDownloaderViewController::closeClick() { dismissViewControllerAnimated(true, nullptr); }

void UICompositionsDownloaderViewController::close() {
    if (auto navigation = navigationController()) {
        if (navigation->topViewController().get() == this) navigation->popViewControllerAnimated(true);
        if (navigation->presentingViewController() && navigation->viewControllers().size() == 1 &&
            navigation->viewControllers()[0].get() == this)
            navigation->dismissViewControllerAnimated(true, nullptr);
    } else if (presentingViewController()) {
        dismissViewControllerAnimated(true, nullptr);
    }
}
