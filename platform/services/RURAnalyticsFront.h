// The analytics front the platform core finds by name ("DUROrezurive") and starts once its
// default app is configured. Absent unless the analytics library has registered it.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>

class RUROptions;

class RURAnalyticsFront {
public:
    virtual ~RURAnalyticsFront() = default;
    // `configuration` is the core's analytics configuration object (none here); `options` are
    // the default app's.
    virtual void startWithConfiguration(const std::shared_ptr<NSObject>& configuration,
                                        const std::shared_ptr<RUROptions>& options) = 0;
};
