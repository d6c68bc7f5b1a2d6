// A playlist's row: its name, its number of tracks, and a play button that starts it (or says
// that it is empty).
#pragma once

#include "media/PlayList.h"
#include "platform/ui/UITableViewCell.h"

#include <memory>

class UIButton;

class UIPlayListCell : public UITableViewCell {
public:
    static std::shared_ptr<UIPlayListCell> initWithStyle(UITableViewCellStyle style, const std::string& reuseIdentifier);
    using UITableViewCell::UITableViewCell;

    // The playlist itself, so that its tracks stay what the row shows whatever happens to others.
    const std::shared_ptr<PlayList>& playList() const { return playList_; }
    void setPlayList(std::shared_ptr<PlayList> list) { playList_ = std::move(list); }
    const std::shared_ptr<UIButton>& playButton() const { return playButton_; }
    // Posts "CompositionPlayPlaylistMessage" with the playlist, or alerts "Playlist is empty".
    void playClick();

private:
    std::shared_ptr<PlayList> playList_;
    std::shared_ptr<UIButton> playButton_;
};
