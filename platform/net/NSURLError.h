// Loading failures: the NSURLErrorDomain codes this layer reports, and how libcurl's map to them.
#pragma once

#include "platform/foundation/NSError.h"

#include <string>

inline constexpr const char* NSURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* NSURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";
inline constexpr const char* NSDebugDescriptionErrorKey = "NSDebugDescription";

enum : long {
    NSURLErrorUnknown = -1,
    NSURLErrorCancelled = -999,
    NSURLErrorBadURL = -1000,
    NSURLErrorTimedOut = -1001,
    NSURLErrorUnsupportedURL = -1002,
    NSURLErrorCannotFindHost = -1003,
    NSURLErrorCannotConnectToHost = -1004,
    NSURLErrorNetworkConnectionLost = -1005,
    NSURLErrorHTTPTooManyRedirects = -1007,
    NSURLErrorRedirectToNonExistentLocation = -1010,
    NSURLErrorBadServerResponse = -1011,
    // Not one of the platform's: a redirect refused because it would carry the trust anchors
    // of one server (URLTrustAnchors) to another scheme, host or port.
    NSURLErrorRedirectRefused = -1099,
    NSURLErrorFileDoesNotExist = -1100,
    NSURLErrorDataLengthExceedsMaximum = -1103,
    NSURLErrorSecureConnectionFailed = -1200,
    NSURLErrorServerCertificateUntrusted = -1202,
    NSURLErrorCannotCreateFile = -3000,
    NSURLErrorCannotWriteToFile = -3003,
};

// Whether a loading failure's code says its server could not be reached: no such host, no
// connection, no answer in time, or the connection lost.
bool NSURLErrorIsUnreachable(long code);

// An NSURLErrorDomain error with the platform's description, the failing URL and, when
// given, a detail for diagnostics.
NSErrorPtr makeURLError(long code, const std::string& url, const std::string& detail = {});
// NSURLErrorDataLengthExceedsMaximum for an answer longer than the `limit` bytes its request allows.
NSErrorPtr makeURLLengthError(const std::string& url, unsigned long long limit);
// The error for a libcurl result code (a CURLcode), with curl's own message as the detail.
NSErrorPtr makeURLErrorFromCurl(int curlCode, const std::string& url, const std::string& curlMessage);
