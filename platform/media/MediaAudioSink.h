// Where a player item's decoded samples go, and what paces them: the machine's audio device, or
// a silent sink that consumes them on the platform clock. The item hands frames over on its own
// queue; its current time is what the sink has played, so with a device the time and the end of
// the item follow what the device consumed, and with the silent sink they follow the clock.
#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class DispatchQueue;

class MediaAudioSink {
public:
    // Opens a device output for interleaved float frames at `sampleRate` x `channels` that calls
    // its wake-ups on `queue`; empty, with the reason, when none can be had.
    using DeviceOpener = std::function<std::unique_ptr<MediaAudioSink>(
        const std::shared_ptr<DispatchQueue>& queue, int sampleRate, int channels, NSErrorPtr* error)>;

    // Media time the silent sink consumes per wake-up.
    static constexpr double kSilentBlockSeconds = 0.05;

    virtual ~MediaAudioSink() = default;

    // A run of playback starts: frames are counted from here and `wake` is what the sink calls, on
    // the queue, when it wants more. False, with the reason, when the output cannot start (a
    // device taken away or busy); the sink is then unusable.
    [[nodiscard]] virtual bool begin(std::function<void()> wake, NSErrorPtr* error) = 0;
    // The run ends at once: frames handed over and not yet played are dropped, no wake-up
    // follows. Harmless when no run is on.
    virtual void end() = 0;
    // Frames to hand over now to keep the output fed.
    virtual std::int64_t framesWanted() const = 0;
    virtual void write(const float* samples, std::int64_t frames) = 0;
    // Frames of this run that have been played.
    virtual std::int64_t framesPlayed() const = 0;
    // Asks for the next wake-up of the run once the output wants more.
    virtual void wakeWhenWanted() = 0;
    // True for the machine's device.
    virtual bool isDevice() const = 0;

    // The sink for an item: the device's when the process asks for it (OSTREL_AUDIO=device, or
    // setPrefersDevice) and one opens, else the silent one. Once no device has opened, the rest
    // of the run plays silently, which a diagnostic says once.
    static std::unique_ptr<MediaAudioSink> make(const std::shared_ptr<DispatchQueue>& queue, int sampleRate,
                                                int channels);
    // The silent sink on the platform clock.
    static std::unique_ptr<MediaAudioSink> makeSilent(const std::shared_ptr<DispatchQueue>& queue, int sampleRate,
                                                      int channels);
    // Says a device failed to start: from now on make() hands out silent sinks, as above.
    static void deviceFailed(const NSErrorPtr& error);

    // Whether make() tries the device: read from OSTREL_AUDIO until set here.
    static bool prefersDevice();
    static void setPrefersDevice(bool prefers);
    // How a device is opened (empty: PortAudio's default output). Setting either also forgets
    // a device that failed.
    static void setDeviceOpener(DeviceOpener opener);
    // The state above as the process started: the environment's choice, PortAudio, no failure.
    static void reset();
    // "silent", "device", "device (failed)", and " (opener replaced)": for the tests' leak check.
    static std::string describeState();
};

// PortAudio's default output device, with ALSA's and JACK's own complaints kept off standard
// error; what went wrong comes back as the error.
std::unique_ptr<MediaAudioSink> openDefaultAudioDevice(const std::shared_ptr<DispatchQueue>& queue, int sampleRate,
                                                       int channels, NSErrorPtr* error);
