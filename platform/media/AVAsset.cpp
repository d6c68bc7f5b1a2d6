// Media resources and their tracks.
#include "platform/media/AVAsset.h"

#include "platform/net/NSURL.h"

std::shared_ptr<AVAssetTrack> AVAssetTrack::make(int trackID, std::string mediaType) {
    return std::shared_ptr<AVAssetTrack>(new AVAssetTrack(trackID, std::move(mediaType)));
}

std::shared_ptr<AVAsset> AVAsset::assetWithURL(std::shared_ptr<NSURL> url) {
    return AVURLAsset::URLAssetWithURL(std::move(url));
}

std::shared_ptr<AVURLAsset> AVURLAsset::URLAssetWithURL(std::shared_ptr<NSURL> url) {
    if (!url) return nullptr;
    return std::shared_ptr<AVURLAsset>(new AVURLAsset(std::move(url)));
}

CMTime AVAsset::duration() const {
    MutexLock lock(mutex_);
    return duration_;
}

bool AVAsset::isDurationEstimated() const {
    MutexLock lock(mutex_);
    return estimated_;
}

std::vector<std::shared_ptr<AVAssetTrack>> AVAsset::tracksWithMediaType(const std::string& mediaType) const {
    MutexLock lock(mutex_);
    std::vector<std::shared_ptr<AVAssetTrack>> result;
    for (const auto& track : tracks_)
        if (track->mediaType() == mediaType) result.push_back(track);
    return result;
}

void AVAsset::setLoaded(CMTime duration, bool estimated, std::vector<std::shared_ptr<AVAssetTrack>> tracks) {
    MutexLock lock(mutex_);
    duration_ = duration;
    estimated_ = estimated;
    tracks_ = std::move(tracks);
}

std::string AVAsset::description() const { return "<" + className() + ": " + url_->absoluteString() + ">"; }
