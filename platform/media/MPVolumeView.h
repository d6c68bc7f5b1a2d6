// The system's volume control: a slider with its track and thumb images and a route button;
// there is no system volume here, so it only keeps what it is given to show.
#pragma once

#include "platform/ui/UIView.h"

#include <map>
#include <memory>

class UIImage;

class MPVolumeView : public UIView {
public:
    static std::shared_ptr<MPVolumeView> make() { return std::make_shared<MPVolumeView>(); }
    MPVolumeView() : UIView(CGRectMake(0, 0, 200, 34)) {}

    void setMinimumVolumeSliderImage(std::shared_ptr<UIImage> image, unsigned state) { minimum_[state] = std::move(image); }
    std::shared_ptr<UIImage> minimumVolumeSliderImageForState(unsigned state) const { return find(minimum_, state); }
    void setMaximumVolumeSliderImage(std::shared_ptr<UIImage> image, unsigned state) { maximum_[state] = std::move(image); }
    std::shared_ptr<UIImage> maximumVolumeSliderImageForState(unsigned state) const { return find(maximum_, state); }
    void setVolumeThumbImage(std::shared_ptr<UIImage> image, unsigned state) { thumb_[state] = std::move(image); }
    std::shared_ptr<UIImage> volumeThumbImageForState(unsigned state) const { return find(thumb_, state); }
    void setRouteButtonImage(std::shared_ptr<UIImage> image, unsigned state) { route_[state] = std::move(image); }
    std::shared_ptr<UIImage> routeButtonImageForState(unsigned state) const { return find(route_, state); }

private:
    using Images = std::map<unsigned, std::shared_ptr<UIImage>>;
    static std::shared_ptr<UIImage> find(const Images& images, unsigned state) {
        const auto found = images.find(state);
        return found == images.end() ? nullptr : found->second;
    }
    Images minimum_, maximum_, thumb_, route_;
};
