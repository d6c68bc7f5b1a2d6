// The media libraries opened by their sonames and their calls looked up, once.
#include "platform/media/MediaLibraries.h"

#include "platform/media/AVError.h"

#include <mutex>
#include <string>

#include <dlfcn.h>

namespace {

#define OSTREL_STRING(text) #text
#define OSTREL_SONAME(library, major) "lib" library ".so." OSTREL_STRING(major)

// Every library a table's calls come from, in the order their dependencies need.
const char* const kFFmpegLibraries[] = {
    OSTREL_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR), OSTREL_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR),
    OSTREL_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR), OSTREL_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR)};
// PortAudio's v19 ABI, and the ALSA and JACK libraries it plays through.
const char* const kSoundDeviceLibraries[] = {"libasound.so.2", "libjack.so.0", "libportaudio.so.2"};

NSErrorPtr loadError(const std::string& what) {
    return NSError::errorWithDomain(AVFoundationErrorDomain, AVErrorDecodeFailed,
                                    {{NSLocalizedDescriptionKey, Value(what)}});
}

// Opens `libraries`, all kept open for good; an empty text when all could be, else which not.
template <std::size_t N>
std::string open(const char* const (&libraries)[N], void* (&handles)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        handles[i] = dlopen(libraries[i], RTLD_NOW | RTLD_GLOBAL);
        if (!handles[i]) {
            const char* why = dlerror();
            return std::string("The media library ") + libraries[i] + " could not be loaded: " + (why ? why : "");
        }
    }
    return {};
}

template <std::size_t N>
void* find(void* (&handles)[N], const char* name) {
    for (void* handle : handles) {
        if (void* found = dlsym(handle, name)) return found;
    }
    return nullptr;
}

template <class Calls, std::size_t N>
struct Loaded {
    std::once_flag once;
    Calls calls;
    std::string failure;

    const Calls* get(const char* const (&libraries)[N], void (*resolve)(Calls&, void* (&)[N], std::string&),
                     NSErrorPtr* error) {
        std::call_once(once, [&] {
            void* handles[N] = {};
            failure = open(libraries, handles);
            if (failure.empty()) resolve(calls, handles, failure);
        });
        if (failure.empty()) return &calls;
        if (error) *error = loadError(failure);
        return nullptr;
    }
};

#define OSTREL_RESOLVE_CALL(name)                                                            \
    if (failure.empty()) {                                                                   \
        calls.name = reinterpret_cast<decltype(&::name)>(find(handles, #name));              \
        if (!calls.name) failure = "The media libraries have no " #name;                     \
    }

constexpr std::size_t kFFmpegCount = std::size(kFFmpegLibraries);
constexpr std::size_t kSoundDeviceCount = std::size(kSoundDeviceLibraries);

void resolveFFmpeg(FFmpegCalls& calls, void* (&handles)[kFFmpegCount], std::string& failure) {
    OSTREL_FFMPEG_CALLS(OSTREL_RESOLVE_CALL)
}

void resolveSoundDevice(SoundDeviceCalls& calls, void* (&handles)[kSoundDeviceCount], std::string& failure) {
    OSTREL_SOUND_DEVICE_CALLS(OSTREL_RESOLVE_CALL)
}

#undef OSTREL_RESOLVE_CALL

Loaded<FFmpegCalls, kFFmpegCount>& ffmpeg() {
    static auto* loaded = new Loaded<FFmpegCalls, kFFmpegCount>;
    return *loaded;
}

Loaded<SoundDeviceCalls, kSoundDeviceCount>& soundDevice() {
    static auto* loaded = new Loaded<SoundDeviceCalls, kSoundDeviceCount>;
    return *loaded;
}

}  // namespace

const FFmpegCalls* ffmpegLibraries(NSErrorPtr* error) { return ffmpeg().get(kFFmpegLibraries, resolveFFmpeg, error); }

const SoundDeviceCalls* soundDeviceLibraries(NSErrorPtr* error) {
    return soundDevice().get(kSoundDeviceLibraries, resolveSoundDevice, error);
}
