// The web view's own errors (WKErrorDomain).
#pragma once

inline constexpr const char* WKErrorDomain = "WKErrorDomain";

enum WKErrorCode : long {
    WKErrorUnknown = 1,
    WKErrorWebContentProcessTerminated = 2,
    WKErrorWebViewInvalidated = 3,
    WKErrorJavaScriptExceptionOccurred = 4,
    WKErrorJavaScriptResultTypeIsUnsupported = 5,
};
