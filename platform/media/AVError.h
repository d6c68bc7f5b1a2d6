// The media stand-in's failures: the platform's media error domain and the codes it reports.
#pragma once

#include "platform/foundation/NSError.h"

#include <string>

inline constexpr const char* AVFoundationErrorDomain = "AVFoundationErrorDomain";

enum AVError : long {
    AVErrorUnknown = -11800,
    AVErrorDecodeFailed = -11821,
    AVErrorFileFormatNotRecognized = -11828,
    AVErrorContentIsUnavailable = -11863,
};

// An error of the domain with a description; `underlying` (a loading failure) goes into the
// user info when given.
NSErrorPtr makeAVError(long code, const std::string& description, NSErrorPtr underlying = nullptr);
