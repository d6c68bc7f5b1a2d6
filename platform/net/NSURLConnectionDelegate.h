// What a connection tells its delegate, on the run loop or queue it is scheduled on, in
// order: a trust challenge (HTTPS, when the delegate asks for it), the response, data
// portions, then either the finish or the failure.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

#include <memory>

class NSHTTPURLResponse;
class NSURLAuthenticationChallenge;
class NSURLConnection;
struct NSURLProtectionSpace;

class NSURLConnectionDelegate {
public:
    virtual ~NSURLConnectionDelegate() = default;

    virtual void connectionDidReceiveResponse(const std::shared_ptr<NSURLConnection>&,
                                              const std::shared_ptr<NSHTTPURLResponse>&) {}
    virtual void connectionDidReceiveData(const std::shared_ptr<NSURLConnection>&, const NSData&) {}
    virtual void connectionDidFinishLoading(const std::shared_ptr<NSURLConnection>&) {}
    virtual void connectionDidFailWithError(const std::shared_ptr<NSURLConnection>&, const NSErrorPtr&) {}

    // Whether the delegate wants the challenge for this protection space.
    virtual bool connectionCanAuthenticateAgainstProtectionSpace(const std::shared_ptr<NSURLConnection>&,
                                                                 const NSURLProtectionSpace&) {
        return false;
    }
    // The load waits until the challenge is answered (now or later, from any thread).
    virtual void connectionDidReceiveAuthenticationChallenge(const std::shared_ptr<NSURLConnection>&,
                                                             const std::shared_ptr<NSURLAuthenticationChallenge>&) {}
};
