// Per-track volumes of an item's audio.
#include "platform/media/AVAudioMix.h"

#include "platform/media/AVAsset.h"

float AVAudioMixInputParameters::volumeAtTime(CMTime time) const {
    float volume = 1.0f;
    for (const auto& [from, value] : volumes_) {
        if (CMTimeCompare(from, time) > 0) break;
        volume = value;
    }
    return volume;
}

std::shared_ptr<AVMutableAudioMixInputParameters> AVMutableAudioMixInputParameters::audioMixInputParameters() {
    return std::shared_ptr<AVMutableAudioMixInputParameters>(new AVMutableAudioMixInputParameters());
}

std::shared_ptr<AVMutableAudioMixInputParameters> AVMutableAudioMixInputParameters::audioMixInputParametersWithTrack(
    const std::shared_ptr<AVAssetTrack>& track) {
    auto parameters = audioMixInputParameters();
    if (track) parameters->setTrackID(track->trackID());
    return parameters;
}

void AVMutableAudioMixInputParameters::setVolume(float volume, CMTime time) {
    auto it = volumes_.begin();
    while (it != volumes_.end() && CMTimeCompare(it->first, time) < 0) ++it;
    if (it != volumes_.end() && CMTimeCompare(it->first, time) == 0)
        it->second = volume;
    else
        volumes_.insert(it, {time, volume});
}

float AVAudioMix::gainForTrack(int trackID, CMTime time) const {
    for (const auto& parameters : parameters_)
        if (parameters && parameters->trackID() == trackID) return parameters->volumeAtTime(time);
    return 1.0f;
}

std::shared_ptr<AVMutableAudioMix> AVMutableAudioMix::audioMix() {
    return std::shared_ptr<AVMutableAudioMix>(new AVMutableAudioMix());
}
