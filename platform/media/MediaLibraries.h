// FFmpeg's libraries and the sound device's (PortAudio, with ALSA and JACK to quiet), loaded on
// first use: they bring most of the shared libraries a process would map at start, and a launch
// that plays nothing (the gallery, the texts) never needs them. Each table holds the calls the
// player makes, resolved from the libraries of the ABI the code was built against.
#pragma once

#include "platform/foundation/NSError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#define OSTREL_FFMPEG_CALLS(X)                                                                          \
    X(av_find_best_stream) X(av_frame_alloc) X(av_frame_free) X(av_frame_unref) X(av_freep)             \
    X(av_log_set_level) X(av_malloc) X(av_packet_alloc) X(av_packet_free) X(av_packet_unref)            \
    X(av_read_frame) X(av_seek_frame) X(av_strerror) X(avcodec_alloc_context3) X(avcodec_flush_buffers) \
    X(avcodec_free_context) X(avcodec_open2) X(avcodec_parameters_to_context) X(avcodec_receive_frame)  \
    X(avcodec_send_packet) X(avformat_alloc_context) X(avformat_close_input) X(avformat_find_stream_info) \
    X(avformat_index_get_entries_count) X(avformat_index_get_entry) X(avformat_open_input)              \
    X(avio_alloc_context) X(avio_context_free) X(swr_alloc_set_opts2) X(swr_convert) X(swr_free) X(swr_init)

#define OSTREL_SOUND_DEVICE_CALLS(X)                                                                   \
    X(Pa_AbortStream) X(Pa_CloseStream) X(Pa_GetDefaultOutputDevice) X(Pa_GetDeviceInfo)               \
    X(Pa_GetErrorText) X(Pa_Initialize) X(Pa_IsFormatSupported) X(Pa_OpenStream) X(Pa_StartStream)    \
    X(Pa_Terminate) X(jack_set_error_function) X(jack_set_info_function) X(snd_lib_error_set_handler)

#define OSTREL_MEDIA_CALL_FIELD(name) decltype(&::name) name = nullptr;

struct FFmpegCalls {
    OSTREL_FFMPEG_CALLS(OSTREL_MEDIA_CALL_FIELD)
};

struct SoundDeviceCalls {
    OSTREL_SOUND_DEVICE_CALLS(OSTREL_MEDIA_CALL_FIELD)
};

#undef OSTREL_MEDIA_CALL_FIELD

// The calls, the libraries loaded on the first request (once per process, never unloaded);
// null, with the reason in `error`, when a library or a call is missing. Safe from any thread.
const FFmpegCalls* ffmpegLibraries(NSErrorPtr* error);
const SoundDeviceCalls* soundDeviceLibraries(NSErrorPtr* error);
