// Loading failures: the platform's descriptions, and libcurl's results sorted into its codes.
#include "platform/net/NSURLError.h"

#include <curl/curl.h>

namespace {

const char* describe(long code) {
    switch (code) {
    case NSURLErrorCancelled: return "cancelled";
    case NSURLErrorBadURL: return "unsupported URL";
    case NSURLErrorTimedOut: return "The request timed out.";
    case NSURLErrorUnsupportedURL: return "unsupported URL";
    case NSURLErrorCannotFindHost: return "A server with the specified hostname could not be found.";
    case NSURLErrorCannotConnectToHost: return "Could not connect to the server.";
    case NSURLErrorNetworkConnectionLost: return "The network connection was lost.";
    case NSURLErrorHTTPTooManyRedirects: return "too many HTTP redirects";
    case NSURLErrorRedirectToNonExistentLocation: return "redirect to non-existent location";
    case NSURLErrorRedirectRefused: return "The server redirected the request to another server, which was refused.";
    case NSURLErrorBadServerResponse: return "The server returned a bad response.";
    case NSURLErrorFileDoesNotExist: return "The requested URL was not found on this server.";
    case NSURLErrorDataLengthExceedsMaximum: return "resource exceeds maximum size";
    case NSURLErrorSecureConnectionFailed: return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case NSURLErrorServerCertificateUntrusted: return "The certificate for this server is invalid.";
    case NSURLErrorCannotCreateFile: return "The file could not be created.";
    case NSURLErrorCannotWriteToFile: return "The file could not be written.";
    default: return "An unknown error occurred.";
    }
}

long codeForCurl(CURLcode code) {
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: return NSURLErrorUnsupportedURL;
    case CURLE_URL_MALFORMAT: return NSURLErrorBadURL;
    case CURLE_COULDNT_RESOLVE_HOST: return NSURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT: return NSURLErrorCannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT: return NSURLErrorTimedOut;
    case CURLE_TOO_MANY_REDIRECTS: return NSURLErrorHTTPTooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION: return NSURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR: return NSURLErrorSecureConnectionFailed;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING: return NSURLErrorBadServerResponse;
    case CURLE_ABORTED_BY_CALLBACK: return NSURLErrorCancelled;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return NSURLErrorNetworkConnectionLost;
    default: return NSURLErrorUnknown;
    }
}

}  // namespace

NSErrorPtr makeURLError(long code, const std::string& url, const std::string& detail) {
    Value::Dictionary userInfo;
    userInfo.set(NSLocalizedDescriptionKey, describe(code));
    userInfo.set(NSURLErrorFailingURLStringErrorKey, url);
    if (!detail.empty()) userInfo.set(NSDebugDescriptionErrorKey, detail);
    return NSError::errorWithDomain(NSURLErrorDomain, code, userInfo);
}

NSErrorPtr makeURLLengthError(const std::string& url, unsigned long long limit) {
    return makeURLError(NSURLErrorDataLengthExceedsMaximum, url,
                        "The answer is longer than the " + std::to_string(limit) + " bytes its request allows.");
}

NSErrorPtr makeURLErrorFromCurl(int curlCode, const std::string& url, const std::string& curlMessage) {
    const auto code = static_cast<CURLcode>(curlCode);
    std::string detail = curlMessage.empty() ? curl_easy_strerror(code) : curlMessage;
    return makeURLError(codeForCurl(code), url, detail);
}

bool NSURLErrorIsUnreachable(long code) {
    return code == NSURLErrorCannotFindHost || code == NSURLErrorCannotConnectToHost || code == NSURLErrorTimedOut ||
           code == NSURLErrorNetworkConnectionLost;
}
