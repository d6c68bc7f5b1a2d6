// A track's row.
#include "media/UICompositionCell.h"

#include "content/FileDownloader.h"
#include "media/CompositionsCellsHelper.h"
#include "media/MediaPlayerController.h"
#include "media/MediaPlayerItem.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "uikit/UIButtonCommon.h"
#include "uikit/UIViewToast.h"

std::shared_ptr<UICompositionCell> UICompositionCell::initWithReuseIdentifier(const std::string& reuseIdentifier) {
    auto cell = std::make_shared<UICompositionCell>(reuseIdentifier);
    cell->activityIndicator_ = showGrayActivityIndicator(cell->contentView(), false);
    cell->observe();
    CompositionsCellsHelper::configureCommonCellParams(cell);
    return cell;
}

UICompositionCell::UICompositionCell(const std::string& reuseIdentifier)
    : UITableViewCell(UITableViewCellStyleSubtitle, reuseIdentifier) {}

UICompositionCell::~UICompositionCell() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

void UICompositionCell::observe() {
    auto self = std::static_pointer_cast<UICompositionCell>(shared_from_this());
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(self, &UICompositionCell::compositionDownloadedMessage, FileDownloader::kFileDownloadedMessage);
    center->addObserver(self, &UICompositionCell::itemChanged, MediaPlayerItemChangedNotification);
}

void UICompositionCell::setParamsFrom(const std::shared_ptr<MediaPlayerItem>& item, const MusicContext& context) {
    item_ = item;
    context_ = context;
    updateCell();
}

void UICompositionCell::updateCell() {
    if (!item_) return;
    checkActivityView(context_.player ? context_.player->currentMediaItem() : nullptr);
    textLabel()->setText(item_->fieldValue("name"));
    detailTextLabel()->setText(item_->fieldValue("author_name"));
    if (item_->exists()) {
        // The time has no translations: read as stored.
        auto time = UILabel::make();
        time->setText(item_->rawValue("time"));
        time->setTextColor(detailTextLabel()->textColor());
        time->setFont(detailTextLabel()->font());
        time->sizeToFit();
        setAccessoryView(time);
    } else if (!context_.downloads) {
        setAccessoryView(nullptr);
    } else {
        setDownloadButtonState(context_.downloads->isFileDownloading(item_->path()));
    }
}

void UICompositionCell::setDownloadButtonState(bool downloading) {
    std::weak_ptr<UICompositionCell> weak = std::static_pointer_cast<UICompositionCell>(shared_from_this());
    if (downloading) {
        if (!cancelButton_)
            cancelButton_ = UIButtonCommon::makeCustomButtonWithImage("media_cancel", nullptr, [weak](const auto&) {
                if (auto self = weak.lock()) self->cancelClick();
            });
        setAccessoryView(cancelButton_);
    } else {
        if (!downloadButton_)
            downloadButton_ = UIButtonCommon::makeCustomButtonWithImage("media_download", nullptr, [weak](const auto&) {
                if (auto self = weak.lock()) self->downloadClick();
            });
        setAccessoryView(downloadButton_);
    }
}

void UICompositionCell::downloadClick() {
    if (!item_ || !context_.downloads) return;
    context_.downloads->addFile(item_->path());
    setDownloadButtonState(true);
}

void UICompositionCell::cancelClick() {
    if (!item_ || !context_.downloads) return;
    context_.downloads->cancelFile(item_->path());
    setDownloadButtonState(false);
}

void UICompositionCell::compositionDownloadedMessage(const NSNotification& notification) {
    if (!item_ || !context_.downloads) return;
    // Without a file the message is about every file (all cancelled).
    const Value* file = notification.userInfo().find(FileDownloader::kFileKey);
    if (!file || file->stringValue() == item_->path()) updateCell();
}

void UICompositionCell::itemChanged(const NSNotification& notification) {
    checkActivityView(std::dynamic_pointer_cast<MediaPlayerItem>(notification.object()));
}

void UICompositionCell::checkActivityView(const std::shared_ptr<MediaPlayerItem>& playing) {
    const bool spinning =
        item_ && playing && playing->path() == item_->path() && (playing->buffering() || item_->buffering());
    if (spinning)
        activityIndicator_->startAnimating();
    else
        activityIndicator_->stopAnimating();
}
