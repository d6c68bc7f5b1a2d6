// The new-applications check: the fetch in the background, the counts on the main thread.
#include "content/NewAppsChecker.h"

#include "content/OERequest.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/ProcessShared.h"

#include <algorithm>

namespace {

ProcessShared<NewAppsChecker> gChecker;

void storeCount(std::int64_t value, const char* key) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setInteger(static_cast<long>(value), key);
    // A failed write is told by the defaults, which keep the value and write it with the next change.
    (void)defaults->synchronize();
}

void postCheckerMessage(const char* name) { NSNotificationCenter::defaultCenter()->postNotificationName(name, nullptr); }

}  // namespace

std::shared_ptr<NewAppsChecker> NewAppsChecker::sharedNewAppsChecker() { return gChecker.get(); }

void NewAppsChecker::resetSharedNewAppsChecker() { (void)gChecker.take(); }

bool NewAppsChecker::hasSharedNewAppsChecker() { return gChecker.current() != nullptr; }

void NewAppsChecker::appStartedWithAppsUrl(const std::string& plistUrl, std::int32_t startCount) {
    plistUrl_ = plistUrl;
    auto defaults = NSUserDefaults::standardUserDefaults();
    startCount_ = std::max<std::int64_t>(startCount, defaults->integerForKey(kStartKey));
    appsCount_ = std::max<std::int64_t>(startCount_, defaults->integerForKey(kCountKey));
    if (reminderMaker_) {
        std::weak_ptr<NewAppsChecker> weak = self<NewAppsChecker>();
        reminder_ = reminderMaker_(kCheckInterval, kReminderKey, [weak] {
            if (auto me = weak.lock()) me->checkNewApps();
        });
    }
    checkNewApps();
}

std::int64_t NewAppsChecker::countFromPropertyList(const NSData& bytes) {
    NSErrorPtr error;
    const Value list = NSPropertyListSerialization::propertyListWithData(bytes, &error);
    if (error || !list.isDictionary()) return 0;
    const Value& count = list["count"];
    if (!count.isNumber() && !count.isString()) return 0;
    return static_cast<std::int32_t>(count.longLongValue());
}

void NewAppsChecker::checkNewApps() {
    auto request = OERequest::initWithString(plistUrl_);
    if (!request) return;
    std::weak_ptr<NewAppsChecker> weak = self<NewAppsChecker>();
    request->startWithCompletion([weak](const NSData& body, long status, const NSErrorPtr& error) {
        // Off the main thread: read the count here, decide and store on the main thread.
        const std::int64_t count =
            error || status < 200 || status >= 300 ? 0 : countFromPropertyList(body);
        DispatchQueue::mainQueue()->async([weak, count] {
            auto me = weak.lock();
            if (me && me->startCount_ < count) me->newAppsFounded(count);
        });
    });
}

void NewAppsChecker::newAppsFounded(std::int64_t count) {
    appsCount_ = count;
    storeCount(count, kCountKey);
    postCheckerMessage(kFoundMessage);
}

long NewAppsChecker::newApps() const { return static_cast<long>(std::max<std::int64_t>(0, appsCount_ - startCount_)); }

void NewAppsChecker::resetApps() {
    startCount_ = appsCount_;
    storeCount(startCount_, kStartKey);
    postCheckerMessage(kFoundMessage);
    postCheckerMessage(kResetMessage);
}
