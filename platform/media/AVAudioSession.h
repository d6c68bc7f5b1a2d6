// The application's audio session: its category and whether it is active. There is no system
// to negotiate with here; a test can make the next requests fail as the system might.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <memory>
#include <string>

inline const std::string AVAudioSessionCategoryAmbient = "AVAudioSessionCategoryAmbient";
inline const std::string AVAudioSessionCategorySoloAmbient = "AVAudioSessionCategorySoloAmbient";
inline const std::string AVAudioSessionCategoryPlayback = "AVAudioSessionCategoryPlayback";

class AVAudioSession : public NSObject {
public:
    static std::shared_ptr<AVAudioSession> sharedInstance();

    [[nodiscard]] bool setCategory(const std::string& category, NSErrorPtr* error);
    [[nodiscard]] bool setActive(bool active, NSErrorPtr* error);
    std::string category() const;
    bool isActive() const;

    // Test hooks: the next setCategory / setActive fails with `error` (empty: succeeds again).
    void setCategoryFailure(NSErrorPtr error);
    void setActivationFailure(NSErrorPtr error);
    bool hasForcedFailures() const;
    // Back to the solo-ambient category, inactive, no failures (between tests).
    void reset();

private:
    AVAudioSession() = default;
    mutable Mutex mutex_;
    std::string category_ GUARDED_BY(mutex_) = AVAudioSessionCategorySoloAmbient;
    bool active_ GUARDED_BY(mutex_) = false;
    NSErrorPtr categoryFailure_ GUARDED_BY(mutex_);
    NSErrorPtr activationFailure_ GUARDED_BY(mutex_);
};
