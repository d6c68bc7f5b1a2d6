// The application's audio session.
#include "platform/media/AVAudioSession.h"

std::shared_ptr<AVAudioSession> AVAudioSession::sharedInstance() {
    static const std::shared_ptr<AVAudioSession> session(new AVAudioSession());
    return session;
}

bool AVAudioSession::setCategory(const std::string& category, NSErrorPtr* error) {
    MutexLock lock(mutex_);
    if (categoryFailure_) {
        setError(error, categoryFailure_);
        return false;
    }
    category_ = category;
    return true;
}

bool AVAudioSession::setActive(bool active, NSErrorPtr* error) {
    MutexLock lock(mutex_);
    if (activationFailure_) {
        setError(error, activationFailure_);
        return false;
    }
    active_ = active;
    return true;
}

std::string AVAudioSession::category() const {
    MutexLock lock(mutex_);
    return category_;
}

bool AVAudioSession::isActive() const {
    MutexLock lock(mutex_);
    return active_;
}

void AVAudioSession::setCategoryFailure(NSErrorPtr error) {
    MutexLock lock(mutex_);
    categoryFailure_ = std::move(error);
}

void AVAudioSession::setActivationFailure(NSErrorPtr error) {
    MutexLock lock(mutex_);
    activationFailure_ = std::move(error);
}

bool AVAudioSession::hasForcedFailures() const {
    MutexLock lock(mutex_);
    return categoryFailure_ || activationFailure_;
}

void AVAudioSession::reset() {
    MutexLock lock(mutex_);
    category_ = AVAudioSessionCategorySoloAmbient;
    active_ = false;
    categoryFailure_ = nullptr;
    activationFailure_ = nullptr;
}
