// The player's views as the interface files lay them out: the phone's controls, progress and
// title views (objects 0, 1 and 2 of "MediaPlayerViews") and the pad's header
// ("MediaPlayerViews_iPad", object 0), each forwarding its controls to its delegates.
#pragma once

#include "media/OEControlsView.h"
#include "media/OEProgressView.h"
#include "media/OETitleView.h"
#include "platform/ui/UIView.h"

#include <memory>
#include <vector>

class UIButton;
class UIImageView;
class UILabel;
class UISlider;

// Previous, play, next, repeat and shuffle.
class MediaPlayerControllsView : public UIView, public OEControlsView {
public:
    static std::shared_ptr<MediaPlayerControllsView> make();
    MediaPlayerControllsView();
    std::shared_ptr<UIButton> playButton() const override { return play_; }
    std::shared_ptr<UIButton> loopButton() const override { return loop_; }
    std::shared_ptr<UIButton> shuffleButton() const override { return shuffle_; }
    const std::shared_ptr<UIButton>& rewindButton() const { return rewind_; }
    const std::shared_ptr<UIButton>& forwardButton() const { return forward_; }

private:
    void connect();
    std::shared_ptr<UIButton> rewind_, play_, forward_, loop_, shuffle_;
};

// The slider over the elapsed and remaining times and the "n of m" label.
class MediaPlayerProgressView : public UIView, public OEProgressView {
public:
    static std::shared_ptr<MediaPlayerProgressView> make();
    MediaPlayerProgressView();
    std::shared_ptr<UILabel> elapsedTimeLabel() const override { return elapsed_; }
    std::shared_ptr<UILabel> remainingTimeLabel() const override { return remaining_; }
    std::shared_ptr<UISlider> progressSlider() const override { return slider_; }
    std::shared_ptr<UILabel> playListProgressLabel() const override { return playList_; }

private:
    void connect();
    std::shared_ptr<UISlider> slider_;
    std::shared_ptr<UILabel> elapsed_, remaining_, playList_;
};

// The author over the composition.
class MediaPlayerTitleView : public UIView, public OETitleView {
public:
    static std::shared_ptr<MediaPlayerTitleView> make();
    MediaPlayerTitleView();
    std::shared_ptr<UILabel> titleLabel() const override { return text_; }
    std::shared_ptr<UILabel> subtitleLabel() const override { return detail_; }

private:
    std::shared_ptr<UILabel> text_, detail_;
};

// The pad's header: controls, progress and one title line over the stretched "bar_ipad".
class MediaPlayerControlsPadView : public UIView, public OEControlsView, public OEProgressView, public OETitleView {
public:
    static std::shared_ptr<MediaPlayerControlsPadView> make();
    MediaPlayerControlsPadView();
    std::shared_ptr<UIButton> playButton() const override { return play_; }
    std::shared_ptr<UIButton> loopButton() const override { return loop_; }
    std::shared_ptr<UIButton> shuffleButton() const override { return shuffle_; }
    const std::shared_ptr<UIButton>& rewindButton() const { return rewind_; }
    const std::shared_ptr<UIButton>& forwardButton() const { return forward_; }
    std::shared_ptr<UILabel> elapsedTimeLabel() const override { return elapsed_; }
    std::shared_ptr<UILabel> remainingTimeLabel() const override { return remaining_; }
    std::shared_ptr<UISlider> progressSlider() const override { return slider_; }
    // The header has neither the "n of m" label nor a subtitle.
    std::shared_ptr<UILabel> playListProgressLabel() const override { return nullptr; }
    std::shared_ptr<UILabel> titleLabel() const override { return title_; }
    std::shared_ptr<UILabel> subtitleLabel() const override { return nullptr; }
    const std::shared_ptr<UIImageView>& backgroundImageView() const { return background_; }

private:
    void connect();
    std::shared_ptr<UIImageView> background_;
    std::shared_ptr<UIButton> rewind_, play_, forward_, loop_, shuffle_;
    std::shared_ptr<UISlider> slider_;
    std::shared_ptr<UILabel> elapsed_, remaining_, title_;
};

namespace MediaPlayerViews {
// "MediaPlayerViews": controls, progress, title.
std::vector<std::shared_ptr<UIView>> loadPhoneViews();
// "MediaPlayerViews_iPad": the header.
std::shared_ptr<MediaPlayerControlsPadView> loadPadHeader();
}  // namespace MediaPlayerViews
