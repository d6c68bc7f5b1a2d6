// The download queue's table.
#include "gallery/UIFileDownloaderViewController.h"

#include "content/FileDownloader.h"
#include "gallery/UIFileDownloadCell.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIProgressView.h"
#include "platform/ui/UITableView.h"

std::shared_ptr<UIFileDownloaderViewController> UIFileDownloaderViewController::initWithStyle(UITableViewStyle style) {
    return initWithDownloader(FileDownloader::sharedDownloader(), style);
}

std::shared_ptr<UIFileDownloaderViewController> UIFileDownloaderViewController::initWithDownloader(
    std::shared_ptr<FileDownloader> downloader, UITableViewStyle style) {
    return std::make_shared<UIFileDownloaderViewController>(std::move(downloader), style);
}

UIFileDownloaderViewController::UIFileDownloaderViewController(std::shared_ptr<FileDownloader> downloader,
                                                               UITableViewStyle style)
    : UITableViewController(style), downloader_(std::move(downloader)) {}

UIFileDownloaderViewController::~UIFileDownloaderViewController() {
    NSNotificationCenter::defaultCenter()->removeObserver(this);
}

void UIFileDownloaderViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    std::weak_ptr<UIFileDownloaderViewController> weak = self<UIFileDownloaderViewController>();
    NSNotificationCenter::defaultCenter()->addObserver(
        shared_from_this(),
        [weak](const NSNotification&) {
            if (auto me = weak.lock()) me->reloadData();
        },
        FileDownloader::kFileDownloadedMessage);
}

void UIFileDownloaderViewController::reloadData() { tableView()->reloadData(); }

long UIFileDownloaderViewController::numberOfDownloads() const {
    return downloader_ ? downloader_->queuedFiles() + downloader_->downloadingFiles() : 0;
}

long UIFileDownloaderViewController::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) {
    return std::max(1L, numberOfDownloads());
}

CGFloat UIFileDownloaderViewController::heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) {
    return UIFileDownloadCell::kRowHeight;
}

std::shared_ptr<UITableViewCell> UIFileDownloaderViewController::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    auto cell = std::dynamic_pointer_cast<UIFileDownloadCell>(
        tableView->dequeueReusableCellWithIdentifier(UIFileDownloadCell::kReuseIdentifier));
    if (!cell) {
        cell = UIFileDownloadCell::make(downloader_);
        customizeCell(cell);
    }
    const bool empty = numberOfDownloads() == 0;
    for (const auto& outlet : {std::static_pointer_cast<UIView>(cell->fileName()),
                               std::static_pointer_cast<UIView>(cell->progressBar()),
                               std::static_pointer_cast<UIView>(cell->progressText()),
                               std::static_pointer_cast<UIView>(cell->cancelButton())})
        outlet->setHidden(empty);
    if (empty) {
        cell->setAssignedFileName("");
        cell->textLabel()->setTextAlignment(NSTextAlignmentCenter);
        cell->textLabel()->setText(UIFileDownloadCell::localized("Empty"));
        return cell;
    }
    cell->textLabel()->setText("");
    const long running = downloader_->downloadingFiles();
    const long row = indexPath.row;
    std::string file;
    if (row < running) {
        file = downloader_->downloadingFileAt(row);
        cell->progressBar()->setHidden(false);
        cell->setAssignedFileName(file);
        cell->updateProgress(file);
    } else {
        file = downloader_->queuedFileAt(row - running);
        cell->progressBar()->setHidden(true);
        cell->progressText()->setText(UIFileDownloadCell::localized("Queued"));
        cell->setAssignedFileName(file);
    }
    cell->fileName()->setText(cellTitle(file));
    return cell;
}
