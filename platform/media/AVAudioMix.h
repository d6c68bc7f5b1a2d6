// Per-track volumes of an item's audio: a mix holds one input-parameters record per track,
// each a list of volumes from given media times on.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/media/CMTime.h"

#include <memory>
#include <utility>
#include <vector>

class AVAssetTrack;

class AVAudioMixInputParameters : public NSObject {
public:
    int trackID() const { return trackID_; }
    // The volume in force at `time`: the last one set at or before it; 1.0 when none is.
    float volumeAtTime(CMTime time) const;

protected:
    AVAudioMixInputParameters() = default;
    int trackID_ = 0;
    std::vector<std::pair<CMTime, float>> volumes_;  // in time order
};

class AVMutableAudioMixInputParameters : public AVAudioMixInputParameters {
public:
    static std::shared_ptr<AVMutableAudioMixInputParameters> audioMixInputParameters();
    static std::shared_ptr<AVMutableAudioMixInputParameters> audioMixInputParametersWithTrack(
        const std::shared_ptr<AVAssetTrack>& track);
    void setTrackID(int trackID) { trackID_ = trackID; }
    // From `time` on; a volume set again at the same time replaces it.
    void setVolume(float volume, CMTime time);
};

class AVAudioMix : public NSObject {
public:
    const std::vector<std::shared_ptr<AVAudioMixInputParameters>>& inputParameters() const { return parameters_; }
    // The gain of one track at `time`: its parameters' volume, 1.0 for a track without any.
    float gainForTrack(int trackID, CMTime time) const;

protected:
    AVAudioMix() = default;
    std::vector<std::shared_ptr<AVAudioMixInputParameters>> parameters_;
};

class AVMutableAudioMix : public AVAudioMix {
public:
    static std::shared_ptr<AVMutableAudioMix> audioMix();
    void setInputParameters(std::vector<std::shared_ptr<AVAudioMixInputParameters>> parameters) {
        parameters_ = std::move(parameters);
    }
};
