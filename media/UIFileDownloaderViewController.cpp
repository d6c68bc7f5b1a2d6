// The list of the download queue.
#include "media/UIFileDownloaderViewController.h"

#include "gallery/FileListDownloader.h"
#include "media/FileDownloader.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSStringFormat.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIProgressView.h"
#include "platform/ui/UITableView.h"
#include "uikit/UIButtonCommon.h"

std::shared_ptr<UIFileDownloadCell> UIFileDownloadCell::initWithDownloader(std::shared_ptr<FileDownloader> downloader) {
    auto cell = std::make_shared<UIFileDownloadCell>(std::move(downloader));
    cell->setup();
    return cell;
}

UIFileDownloadCell::UIFileDownloadCell(std::shared_ptr<FileDownloader> downloader)
    : UITableViewCell(UITableViewCellStyleDefault, "FileDownloadCell"), downloader_(std::move(downloader)) {}

UIFileDownloadCell::~UIFileDownloadCell() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

void UIFileDownloadCell::setup() {
    fileName_ = UILabel::make();
    progressText_ = UILabel::make();
    progressBar_ = UIProgressView::initWithProgressViewStyle(UIProgressViewStyleDefault);
    std::weak_ptr<UIFileDownloadCell> weak = std::static_pointer_cast<UIFileDownloadCell>(shared_from_this());
    cancelButton_ = UIButtonCommon::makeCustomButtonWithImage("media_cancel", nullptr, [weak](const auto&) {
        if (auto self = weak.lock()) self->cancelClick();
    });
    for (const std::shared_ptr<UIView>& view : std::initializer_list<std::shared_ptr<UIView>>{
             fileName_, progressText_, progressBar_, cancelButton_})
        contentView()->addSubview(view);
    NSNotificationCenter::defaultCenter()->addObserver(std::static_pointer_cast<UIFileDownloadCell>(shared_from_this()),
                                                       &UIFileDownloadCell::progressChanged,
                                                       FileDownloader::kDownloadProgressChangeMessage);
}

void UIFileDownloadCell::setOutletsHidden(bool hidden) {
    for (const std::shared_ptr<UIView>& view : std::initializer_list<std::shared_ptr<UIView>>{
             fileName_, progressText_, progressBar_, cancelButton_})
        view->setHidden(hidden);
}

void UIFileDownloadCell::progressChanged(const NSNotification&) {
    if (!assignedFileName_.empty()) updateProgress(assignedFileName_);
}

void UIFileDownloadCell::updateProgress(const std::string& name) {
    if (downloader_->fileState(name) != FileDownloader::FileState::Downloading) {
        progressText_->setText(FileListDownloader::localized("Queued"));
        return;
    }
    progressBar_->setProgress(downloader_->fileProgress(name));
    const float megabyte = 1.0f / 1048576.0f;
    const float size = static_cast<float>(downloader_->fileSize(name)) * megabyte;
    const float done = static_cast<float>(downloader_->fileDownloadedBytes(name)) * megabyte;
    progressText_->setText(size > 0 ? NSString::format(FileListDownloader::localized("%.02f mb from %.02f mb"),
                                                       static_cast<double>(done), static_cast<double>(size))
                                    : "");
}

void UIFileDownloadCell::cancelClick() {
    if (!assignedFileName_.empty()) downloader_->cancelFile(assignedFileName_);
}

UIFileDownloaderViewController::UIFileDownloaderViewController(UITableViewStyle style,
                                                               std::shared_ptr<FileDownloader> downloader)
    : UITableViewController(style), downloader_(std::move(downloader)) {}

UIFileDownloaderViewController::~UIFileDownloaderViewController() {
    NSNotificationCenter::defaultCenter()->removeObserver(this);
}

long UIFileDownloaderViewController::numberOfDownloads() const {
    return downloader_->downloadingFiles() + downloader_->queuedFiles();
}

void UIFileDownloaderViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    NSNotificationCenter::defaultCenter()->addObserver(
        std::static_pointer_cast<UIFileDownloaderViewController>(shared_from_this()),
        &UIFileDownloaderViewController::fileDownloaded, FileDownloader::kFileDownloadedMessage);
}

void UIFileDownloaderViewController::fileDownloaded(const NSNotification&) { reloadData(); }

void UIFileDownloaderViewController::reloadData() { tableView()->reloadData(); }

long UIFileDownloaderViewController::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) {
    return std::max(1L, numberOfDownloads());
}

std::shared_ptr<UITableViewCell> UIFileDownloaderViewController::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    auto cell = std::dynamic_pointer_cast<UIFileDownloadCell>(tableView->dequeueReusableCellWithIdentifier("FileDownloadCell"));
    if (!cell) {
        cell = UIFileDownloadCell::initWithDownloader(downloader_);
        customizeCell(cell);
    }
    if (numberOfDownloads() == 0) {
        cell->setOutletsHidden(true);
        cell->setAssignedFileName("");
        cell->textLabel()->setTextAlignment(NSTextAlignmentCenter);
        cell->textLabel()->setText(FileListDownloader::localized("Empty"));
        return cell;
    }
    cell->setOutletsHidden(false);
    cell->textLabel()->setText("");
    const long running = downloader_->downloadingFiles();
    std::string name;
    if (indexPath.row < running) {
        name = downloader_->downloadingFileAt(indexPath.row);
        cell->setAssignedFileName(name);
        cell->updateProgress(name);
    } else {
        name = downloader_->queuedFileAt(indexPath.row - running);
        cell->setAssignedFileName(name);
        cell->progressBar()->setHidden(true);
        cell->progressText()->setText(FileListDownloader::localized("Queued"));
    }
    cell->fileName()->setText(cellTitle(name));
    return cell;
}
