// A track's row: its name and author, and on the right its time when the file is on the device,
// else a download button (a cancel button while it is queued or loading); a spinner while the
// track is current in the player and loading. It follows the download queue and the player.
#pragma once

#include "media/MusicContext.h"
#include "platform/ui/UITableViewCell.h"

#include <memory>
#include <string>

class MediaPlayerItem;
class NSNotification;
class UIActivityIndicatorView;
class UIButton;

class UICompositionCell : public UITableViewCell {
public:
    // Subtitle style, observing the queue and the player from the start.
    static std::shared_ptr<UICompositionCell> initWithReuseIdentifier(const std::string& reuseIdentifier);
    explicit UICompositionCell(const std::string& reuseIdentifier);
    ~UICompositionCell() override;

    const std::shared_ptr<MediaPlayerItem>& item() const { return item_; }
    const std::shared_ptr<UIActivityIndicatorView>& activityIndicator() const { return activityIndicator_; }
    // Shows the track and keeps the context to ask about it.
    void setParamsFrom(const std::shared_ptr<MediaPlayerItem>& item, const MusicContext& context);
    void updateCell();
    // The cancel button (YES) or the download button in the accessory place.
    void setDownloadButtonState(bool downloading);
    void downloadClick();
    void cancelClick();
    // The spinner runs while `playing` is this very track and either is loading.
    void checkActivityView(const std::shared_ptr<MediaPlayerItem>& playing);

private:
    void observe();
    void compositionDownloadedMessage(const NSNotification& notification);
    void itemChanged(const NSNotification& notification);

    std::shared_ptr<MediaPlayerItem> item_;
    MusicContext context_;
    std::shared_ptr<UIActivityIndicatorView> activityIndicator_;
    std::shared_ptr<UIButton> downloadButton_;
    std::shared_ptr<UIButton> cancelButton_;
};
