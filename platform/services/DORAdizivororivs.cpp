// The installations service stand-in.
#include "platform/services/DORAdizivororivs.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUUID.h"
#include "platform/foundation/NSUserDefaults.h"

#include <algorithm>

namespace {

Mutex gSharedMutex;
std::shared_ptr<DORAdizivororivs>* gShared GUARDED_BY(gSharedMutex) = nullptr;

// 22 characters, as the service's identifiers are: the UUID's hex digits without the dashes.
std::string newIdentifier() {
    std::string text = NSUUID::UUID()->UUIDString();
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    return "f" + text.substr(0, 21);
}

}  // namespace

std::shared_ptr<DORAdizivororivs> DORAdizivororivs::installations() {
    MutexLock lock(gSharedMutex);
    if (!gShared) gShared = new std::shared_ptr<DORAdizivororivs>(std::make_shared<DORAdizivororivs>());
    return *gShared;
}

void DORAdizivororivs::reset() {
    MutexLock lock(gSharedMutex);
    if (gShared) *gShared = std::make_shared<DORAdizivororivs>();
}

void DORAdizivororivs::setFailure(NSErrorPtr error) {
    MutexLock lock(mutex_);
    failure_ = std::move(error);
}

void DORAdizivororivs::installationIDWithCompletion(Completion completion) {
    if (!completion) return;
    std::optional<std::string> identifier;
    NSErrorPtr error;
    {
        MutexLock lock(mutex_);
        error = failure_;
        if (!error) {
            auto defaults = NSUserDefaults::standardUserDefaults();
            std::string stored = defaults->stringForKey(kDefaultsKey);
            if (stored.empty()) {
                stored = newIdentifier();
                (void)defaults->setObject(Value(stored), kDefaultsKey);
            }
            identifier = stored;
        }
    }
    DispatchQueue::globalQueue()->async([completion = std::move(completion), identifier, error] {
        completion(identifier, error);
    });
}

void DORAdizivororivs::deleteInstallationID() {
    {
        MutexLock lock(mutex_);
        NSUserDefaults::standardUserDefaults()->removeObjectForKey(kDefaultsKey);
    }
    NSNotificationCenter::defaultCenter()->postNotificationName(DORAdizivororivIDDidChangeNotification, self<NSObject>());
}
