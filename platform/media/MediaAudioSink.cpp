// The silent sink, paced by the platform clock in blocks, and the choice between it and the
// machine's audio device.
#include "platform/media/MediaAudioSink.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

// Consumes what it is handed at once, as fast as the clock goes: the frames wanted are those the
// clock has passed since the run began. Used under its item's lock, wake-ups on the item's queue.
class SilentSink final : public MediaAudioSink {
public:
    SilentSink(std::shared_ptr<DispatchQueue> queue, int sampleRate) : queue_(std::move(queue)), sampleRate_(sampleRate) {}

    bool begin(std::function<void()> wake, NSErrorPtr*) override {
        wake_ = std::move(wake);
        anchor_ = Clock::now();
        ticks_ = 0;
        written_ = 0;
        return true;
    }
    void end() override { wake_ = nullptr; }
    std::int64_t framesWanted() const override {
        // To the frame nearest the clock: its reading carries far less than a frame of error.
        const auto due = static_cast<std::int64_t>(std::llround((Clock::now() - anchor_) * sampleRate_));
        return std::max<std::int64_t>(0, due - written_);
    }
    void write(const float*, std::int64_t frames) override { written_ += frames; }
    std::int64_t framesPlayed() const override { return written_; }
    void wakeWhenWanted() override {
        if (!wake_) return;
        // Counted in whole blocks from the start of the run, so block boundaries fall on exact
        // multiples of the block (clock times since 1970 are too coarse to divide back into blocks).
        ++ticks_;
        queue_->afterDeadline(anchor_ + static_cast<double>(ticks_) * kSilentBlockSeconds, wake_);
    }
    bool isDevice() const override { return false; }

private:
    const std::shared_ptr<DispatchQueue> queue_;
    const int sampleRate_;
    std::function<void()> wake_;
    double anchor_ = 0;
    std::uint64_t ticks_ = 0;
    std::int64_t written_ = 0;
};

struct Selection {
    Mutex mutex;
    std::optional<bool> prefers GUARDED_BY(mutex);  // empty: the environment says
    MediaAudioSink::DeviceOpener opener GUARDED_BY(mutex);
    bool failed GUARDED_BY(mutex) = false;
};

Selection& selection() {
    static Selection* const instance = new Selection;
    return *instance;
}

bool environmentPrefersDevice() {
    const char* value = std::getenv("OSTREL_AUDIO");
    return value && std::strcmp(value, "device") == 0;
}

}  // namespace

std::unique_ptr<MediaAudioSink> MediaAudioSink::makeSilent(const std::shared_ptr<DispatchQueue>& queue, int sampleRate,
                                                           int) {
    return std::make_unique<SilentSink>(queue, sampleRate);
}

std::unique_ptr<MediaAudioSink> MediaAudioSink::make(const std::shared_ptr<DispatchQueue>& queue, int sampleRate,
                                                     int channels) {
    DeviceOpener opener;
    {
        auto& s = selection();
        MutexLock lock(s.mutex);
        const bool prefers = s.prefers ? *s.prefers : environmentPrefersDevice();
        if (!prefers || s.failed) return makeSilent(queue, sampleRate, channels);
        opener = s.opener ? s.opener : DeviceOpener(&openDefaultAudioDevice);
    }
    NSErrorPtr error;
    if (auto device = opener(queue, sampleRate, channels, &error)) return device;
    deviceFailed(error);
    return makeSilent(queue, sampleRate, channels);
}

void MediaAudioSink::deviceFailed(const NSErrorPtr& error) {
    auto& s = selection();
    MutexLock lock(s.mutex);
    if (s.failed) return;
    s.failed = true;
    // Told, not only logged: a person listening hears nothing and should know why.
    Diagnostics::tellf("No sound device plays the music (%s); it plays silently from now on.",
                       error ? error->localizedDescription().c_str() : "no reason given");
}

bool MediaAudioSink::prefersDevice() {
    auto& s = selection();
    MutexLock lock(s.mutex);
    return s.prefers ? *s.prefers : environmentPrefersDevice();
}

void MediaAudioSink::setPrefersDevice(bool prefers) {
    auto& s = selection();
    MutexLock lock(s.mutex);
    s.prefers = prefers;
    s.failed = false;
}

void MediaAudioSink::setDeviceOpener(DeviceOpener opener) {
    auto& s = selection();
    MutexLock lock(s.mutex);
    s.opener = std::move(opener);
    s.failed = false;
}

void MediaAudioSink::reset() {
    auto& s = selection();
    MutexLock lock(s.mutex);
    s.prefers.reset();
    s.opener = nullptr;
    s.failed = false;
}

std::string MediaAudioSink::describeState() {
    auto& s = selection();
    MutexLock lock(s.mutex);
    std::string text = (s.prefers ? *s.prefers : environmentPrefersDevice()) ? "device" : "silent";
    if (s.failed) text += " (failed)";
    if (s.prefers) text += " (chosen)";
    if (s.opener) text += " (opener replaced)";
    return text;
}
