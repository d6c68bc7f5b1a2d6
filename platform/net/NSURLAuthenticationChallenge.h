// Server-trust challenges: after a server's certificate passed evaluation (system authorities
// and the host's anchors), a connection delegate may still refuse it. Trust cannot be granted
// here: a server that fails evaluation fails its load with NSURLErrorServerCertificateUntrusted.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

inline constexpr const char* NSURLAuthenticationMethodServerTrust = "NSURLAuthenticationMethodServerTrust";

// The evaluated trust of one server.
struct SecTrust {
    std::string host;
    int port = 0;
};

struct NSURLProtectionSpace {
    std::string host;
    int port = 0;
    std::string protocol;  // "https"
    std::string authenticationMethod = NSURLAuthenticationMethodServerTrust;
    std::shared_ptr<const SecTrust> serverTrust;
};

struct NSURLCredential {
    static NSURLCredential credentialForTrust(std::shared_ptr<const SecTrust> trust) { return {std::move(trust)}; }
    std::shared_ptr<const SecTrust> trust;
};

class NSURLAuthenticationChallenge : public NSObject {
public:
    using Answer = std::function<void(bool proceed)>;
    NSURLAuthenticationChallenge(NSURLProtectionSpace space, Answer answer)
        : space_(std::move(space)), answer_(std::move(answer)) {}

    const NSURLProtectionSpace& protectionSpace() const { return space_; }
    // Trust is evaluated once per load, so a challenge never follows a failed one.
    long previousFailureCount() const { return 0; }

    // The sender's answers; the first one counts. Going on with the server's own trust, or
    // without a credential, both accept the server that passed evaluation.
    void useCredential(const NSURLCredential& credential);
    void performDefaultHandling() { answer(true); }
    // The load fails with NSURLErrorCancelled.
    void cancel() { answer(false); }

private:
    void answer(bool proceed);

    const NSURLProtectionSpace space_;
    Mutex mutex_;
    Answer answer_ GUARDED_BY(mutex_);
};
