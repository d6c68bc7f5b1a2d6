// The machine's audio device through PortAudio: a ring of decoded frames the device's callback
// drains, counting what it played; each callback asks the item's queue for more. The library is
// started while a device output exists and stopped with the last one.
#include "platform/media/MediaAudioSink.h"

#include "platform/dispatch/DispatchQueue.h"

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/media/MediaLibraries.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace {

// The sound device's calls, loaded before the library is first started: nothing else calls
// them until it was.
const SoundDeviceCalls& sound() { return *soundDeviceLibraries(nullptr); }

// Decoded audio kept ahead of the device, at least.
constexpr double kDeviceAheadSeconds = 0.3;

NSErrorPtr portAudioError(PaError code, const std::string& what) {
    return NSError::errorWithDomain(NSOSStatusErrorDomain, code,
                                    {{NSLocalizedDescriptionKey, Value(what + ": " + sound().Pa_GetErrorText(code))}});
}

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietJack(const char*) {}

// ALSA and JACK print every device they probe and every server they miss on standard error; while
// PortAudio looks for a device, nobody is to read that, as the failure comes back as an error.
class QuietLibraries {
public:
    QuietLibraries() {
        sound().jack_set_error_function(quietJack);
        sound().jack_set_info_function(quietJack);
        sound().snd_lib_error_set_handler(quietAlsa);
    }
    ~QuietLibraries() { sound().snd_lib_error_set_handler(nullptr); }
    QuietLibraries(const QuietLibraries&) = delete;
    QuietLibraries& operator=(const QuietLibraries&) = delete;
};

Mutex libraryMutex;
int libraryUsers GUARDED_BY(libraryMutex) = 0;

bool acquireLibrary(NSErrorPtr* error) {
    MutexLock lock(libraryMutex);
    if (libraryUsers == 0) {
        QuietLibraries quiet;
        if (const PaError code = sound().Pa_Initialize(); code != paNoError) {
            if (error) *error = portAudioError(code, "PortAudio does not start");
            return false;
        }
    }
    ++libraryUsers;
    return true;
}

void releaseLibrary() {
    MutexLock lock(libraryMutex);
    if (--libraryUsers == 0) sound().Pa_Terminate();
}

class PortAudioSink final : public MediaAudioSink {
public:
    PortAudioSink(std::shared_ptr<DispatchQueue> queue, const PaStreamParameters& parameters, int sampleRate)
        : queue_(std::move(queue)), parameters_(parameters), sampleRate_(sampleRate) {
        const double ahead = std::max(kDeviceAheadSeconds, 4 * parameters.suggestedLatency);
        capacity_ = static_cast<std::int64_t>(ahead * sampleRate);
        ring_.resize(static_cast<std::size_t>(capacity_) * static_cast<std::size_t>(parameters.channelCount));
    }
    ~PortAudioSink() override {
        end();
        releaseLibrary();
    }

    bool begin(std::function<void()> wake, NSErrorPtr* error) override {
        end();
        wake_ = std::move(wake);
        readIndex_.store(0);
        writeIndex_ = 0;
        published_.store(0);
        pending_.store(false);
        PaStream* stream = nullptr;
        PaError code;
        {
            MutexLock lock(libraryMutex);
            QuietLibraries quiet;
            code = sound().Pa_OpenStream(&stream, nullptr, &parameters_, sampleRate_, paFramesPerBufferUnspecified, paNoFlag,
                                 &PortAudioSink::callback, this);
        }
        if (code == paNoError) {
            code = sound().Pa_StartStream(stream);
            if (code != paNoError) sound().Pa_CloseStream(stream);
        }
        if (code != paNoError) {
            wake_ = nullptr;
            if (error) *error = portAudioError(code, "The sound device does not play");
            return false;
        }
        stream_ = stream;
        return true;
    }

    void end() override {
        if (!stream_) return;
        // Returns once the callback has run for the last time.
        sound().Pa_AbortStream(stream_);
        sound().Pa_CloseStream(stream_);
        stream_ = nullptr;
        wake_ = nullptr;
    }

    std::int64_t framesWanted() const override {
        return std::max<std::int64_t>(0, capacity_ - (writeIndex_ - readIndex_.load(std::memory_order_acquire)));
    }

    void write(const float* samples, std::int64_t frames) override {
        if (!stream_) return;
        const auto channels = static_cast<std::size_t>(parameters_.channelCount);
        frames = std::min(frames, framesWanted());
        for (std::int64_t done = 0; done < frames;) {
            const std::int64_t at = (writeIndex_ + done) % capacity_;
            const std::int64_t run = std::min(frames - done, capacity_ - at);
            std::memcpy(&ring_[static_cast<std::size_t>(at) * channels], samples + static_cast<std::size_t>(done) * channels,
                        static_cast<std::size_t>(run) * channels * sizeof(float));
            done += run;
        }
        writeIndex_ += frames;
        published_.store(writeIndex_, std::memory_order_release);
    }

    std::int64_t framesPlayed() const override { return readIndex_.load(std::memory_order_acquire); }
    // The next callback wakes the item again.
    void wakeWhenWanted() override { pending_.store(false); }
    bool isDevice() const override { return true; }

private:
    static int callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* user) {
        auto* self = static_cast<PortAudioSink*>(user);
        auto* out = static_cast<float*>(output);
        const auto channels = static_cast<std::size_t>(self->parameters_.channelCount);
        const std::int64_t read = self->readIndex_.load(std::memory_order_relaxed);
        const std::int64_t available = self->published_.load(std::memory_order_acquire) - read;
        const std::int64_t take = std::min<std::int64_t>(available, static_cast<std::int64_t>(frames));
        for (std::int64_t done = 0; done < take;) {
            const std::int64_t at = (read + done) % self->capacity_;
            const std::int64_t run = std::min(take - done, self->capacity_ - at);
            std::memcpy(out + static_cast<std::size_t>(done) * channels, &self->ring_[static_cast<std::size_t>(at) * channels],
                        static_cast<std::size_t>(run) * channels * sizeof(float));
            done += run;
        }
        // Nothing to play (the stream is loading, or the item ends): silence, not counted as played.
        std::fill(out + static_cast<std::size_t>(take) * channels, out + frames * channels, 0.0f);
        self->readIndex_.store(read + take, std::memory_order_release);
        if (!self->pending_.exchange(true)) self->queue_->async(self->wake_);
        return paContinue;
    }

    const std::shared_ptr<DispatchQueue> queue_;
    const PaStreamParameters parameters_;
    const int sampleRate_;
    std::int64_t capacity_ = 0;  // frames
    std::vector<float> ring_;
    PaStream* stream_ = nullptr;
    std::function<void()> wake_;
    std::int64_t writeIndex_ = 0;                 // the writer's
    std::atomic<std::int64_t> published_{0};      // writeIndex_ as the callback may read it
    std::atomic<std::int64_t> readIndex_{0};      // frames played in this run
    std::atomic<bool> pending_{false};            // a wake-up is on its way to the queue
};

}  // namespace

std::unique_ptr<MediaAudioSink> openDefaultAudioDevice(const std::shared_ptr<DispatchQueue>& queue, int sampleRate,
                                                       int channels, NSErrorPtr* error) {
    if (!soundDeviceLibraries(error) || !acquireLibrary(error)) return nullptr;
    PaStreamParameters parameters{};
    parameters.device = sound().Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = parameters.device == paNoDevice ? nullptr : sound().Pa_GetDeviceInfo(parameters.device);
    if (!info) {
        releaseLibrary();
        if (error)
            *error = NSError::errorWithDomain(NSOSStatusErrorDomain, paDeviceUnavailable,
                                              {{NSLocalizedDescriptionKey, Value(std::string("the machine has no sound output device"))}});
        return nullptr;
    }
    parameters.channelCount = channels;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = info->defaultHighOutputLatency;
    PaError supported;
    {
        MutexLock lock(libraryMutex);
        QuietLibraries quiet;
        supported = sound().Pa_IsFormatSupported(nullptr, &parameters, sampleRate);
    }
    if (supported != paFormatIsSupported) {
        releaseLibrary();
        if (error) *error = portAudioError(supported, std::string("The sound device ") + info->name + " cannot play the music");
        return nullptr;
    }
    return std::make_unique<PortAudioSink>(queue, parameters, sampleRate);
}
