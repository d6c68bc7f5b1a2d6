// The download row, built in code with the outlets its layout file would give.
#include "gallery/UIFileDownloadCell.h"

#include "content/FileDownloader.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSStringFormat.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIProgressView.h"

namespace {
constexpr CGFloat kCellMargin = 15;
constexpr CGFloat kCancelWidth = 70;
constexpr float kBytesPerMegabyte = 1.0f / 1048576.0f;
}  // namespace

UIFileDownloadCell::UIFileDownloadCell() : UITableViewCell(UITableViewCellStyleDefault, kReuseIdentifier) {}

std::shared_ptr<UIFileDownloadCell> UIFileDownloadCell::make(std::shared_ptr<FileDownloader> downloader) {
    auto cell = std::make_shared<UIFileDownloadCell>();
    cell->downloader_ = downloader;
    cell->setFrame(CGRectMake(0, 0, 320, kRowHeight));
    cell->setup();
    return cell;
}

UIFileDownloadCell::~UIFileDownloadCell() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

std::string UIFileDownloadCell::localized(const std::string& key) {
    return NSBundle::mainBundle()->localizedStringForKey(key, "", "FileDownloader");
}

void UIFileDownloadCell::setup() {
    auto content = contentView();
    const CGFloat width = content->bounds().size.width - 2 * kCellMargin - kCancelWidth;
    fileName_ = UILabel::initWithFrame(CGRectMake(kCellMargin, 6, width, 22));
    fileName_->setFont(UIFont::systemFontOfSize(16));
    progressBar_ = UIProgressView::initWithFrame(CGRectMake(kCellMargin, 32, width, 2));
    progressText_ = UILabel::initWithFrame(CGRectMake(kCellMargin, 38, width, 16));
    progressText_->setFont(UIFont::systemFontOfSize(12));
    progressText_->setTextColor(UIColor::grayColor());
    cancelButton_ = UIButton::buttonWithType(UIButtonTypeSystem);
    cancelButton_->setFrame(CGRectMake(content->bounds().size.width - kCancelWidth - kCellMargin / 2, 10, kCancelWidth, 40));
    cancelButton_->setTitle(localized("Cancel"), UIControlStateNormal);
    std::weak_ptr<UIFileDownloadCell> weak = self<UIFileDownloadCell>();
    cancelButton_->addTarget(nullptr, [weak](const std::shared_ptr<NSObject>&) {
        if (auto me = weak.lock()) me->cancelClick();
    }, UIControlEventTouchUpInside);
    for (const auto& view : {std::static_pointer_cast<UIView>(fileName_), std::static_pointer_cast<UIView>(progressBar_),
                             std::static_pointer_cast<UIView>(progressText_)})
        view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    cancelButton_->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    content->addSubview(fileName_);
    content->addSubview(progressBar_);
    content->addSubview(progressText_);
    content->addSubview(cancelButton_);
    NSNotificationCenter::defaultCenter()->addObserver(
        shared_from_this(),
        [weak](const NSNotification&) {
            if (auto me = weak.lock()) me->progressChanged();
        },
        FileDownloader::kDownloadProgressChangeMessage);
}

void UIFileDownloadCell::progressChanged() { updateProgress(assignedFileName_); }

void UIFileDownloadCell::cancelClick() {
    if (auto downloader = downloader_.lock()) downloader->cancelFile(assignedFileName_);
}

void UIFileDownloadCell::updateProgress(const std::string& fileName) {
    auto downloader = downloader_.lock();
    if (!downloader || fileName.empty()) return;
    if (downloader->fileState(fileName) != FileDownloader::Downloading) {
        progressText_->setText(localized("Queued"));
        return;
    }
    progressBar_->setProgress(downloader->fileProgress(fileName));
    const float size = static_cast<float>(downloader->fileSize(fileName)) * kBytesPerMegabyte;
    const float done = static_cast<float>(downloader->fileDownloadedBytes(fileName)) * kBytesPerMegabyte;
    progressText_->setText(size > 0 ? NSString::format(localized("%.02f mb from %.02f mb"), done, size) : "");
}
