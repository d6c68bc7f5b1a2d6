// A media resource at a URL (a local file or an HTTP(S) stream): its duration and audio tracks,
// known once an item made from it has loaded it.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/media/CMTime.h"

#include <memory>
#include <string>
#include <vector>

class NSURL;

inline const std::string AVMediaTypeAudio = "soun";

class AVAssetTrack : public NSObject {
public:
    static std::shared_ptr<AVAssetTrack> make(int trackID, std::string mediaType);
    int trackID() const { return trackID_; }
    const std::string& mediaType() const { return mediaType_; }

private:
    AVAssetTrack(int trackID, std::string mediaType) : trackID_(trackID), mediaType_(std::move(mediaType)) {}
    int trackID_;
    std::string mediaType_;
};

class AVAsset : public NSObject {
public:
    // Empty for an empty URL.
    static std::shared_ptr<AVAsset> assetWithURL(std::shared_ptr<NSURL> url);

    const std::shared_ptr<NSURL>& URL() const { return url_; }
    // The zero time until loaded (and for a resource that could not be loaded).
    CMTime duration() const;
    // Whether the duration came from the bit rate and the length (a stream without an index).
    bool isDurationEstimated() const;
    // The tracks of a media type; none until loaded.
    std::vector<std::shared_ptr<AVAssetTrack>> tracksWithMediaType(const std::string& mediaType) const;

    // Set by the item that loads the asset.
    void setLoaded(CMTime duration, bool estimated, std::vector<std::shared_ptr<AVAssetTrack>> tracks);

    std::string description() const override;

protected:
    explicit AVAsset(std::shared_ptr<NSURL> url) : url_(std::move(url)) {}

private:
    const std::shared_ptr<NSURL> url_;
    mutable Mutex mutex_;
    CMTime duration_ GUARDED_BY(mutex_) = kCMTimeZero;
    bool estimated_ GUARDED_BY(mutex_) = false;
    std::vector<std::shared_ptr<AVAssetTrack>> tracks_ GUARDED_BY(mutex_);
};

class AVURLAsset : public AVAsset {
public:
    // Options are accepted as the platform's are; none changes anything here.
    static std::shared_ptr<AVURLAsset> URLAssetWithURL(std::shared_ptr<NSURL> url);

private:
    explicit AVURLAsset(std::shared_ptr<NSURL> url) : AVAsset(std::move(url)) {}
};
