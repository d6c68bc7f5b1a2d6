// The message check: request, reply on the main queue, the shown identifiers, the timer.
#include "content/RemoteMessageManager.h"

#include "content/OERequest.h"
#include "content/RemoteMessageFactory.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/foundation/ProcessShared.h"

namespace {

ProcessShared<RemoteMessageManager> gMessageManager;

}  // namespace

std::string RemoteMessageManager::defaultServerUrl() {
    std::string host = NSUserDefaults::standardUserDefaults()->stringForKey(kHostDefaultsKey);
    while (!host.empty() && host.back() == '/') host.pop_back();
    return (host.empty() ? std::string(kDefaultHost) : host) + kMessagePath;
}

std::shared_ptr<RemoteMessageManager> RemoteMessageManager::sharedManager() { return gMessageManager.get(); }

void RemoteMessageManager::resetSharedManager() {
    if (auto old = gMessageManager.take()) old->stopTimer();
}

bool RemoteMessageManager::hasSharedManager() { return gMessageManager.current() != nullptr; }

RemoteMessageManager::~RemoteMessageManager() {
    if (timer_) timer_->invalidate();
}

const std::string& RemoteMessageManager::key() {
    static const std::string name = "com.norvane.remote_notifications.lastids_array";
    return name;
}

void RemoteMessageManager::appDidLaunched(const std::string& appID, const std::string& version,
                                          const std::string& serverUrl, double updateInterval) {
    auto manager = sharedManager();
    manager->setAppID(appID);
    manager->setVersion(version);
    manager->setUrl(serverUrl);
    manager->setUpdateInterval(updateInterval);
    manager->checkWithTimerRestart();
}

void RemoteMessageManager::appWillEnterBackground() { sharedManager()->stopTimer(); }

void RemoteMessageManager::appWillEnterForeground() { sharedManager()->checkWithTimerRestart(); }

void RemoteMessageManager::checkWithTimerRestart() {
    std::weak_ptr<RemoteMessageManager> weak = self<RemoteMessageManager>();
    checkNewMessage([weak] {
        if (auto me = weak.lock()) me->restartTimer();
    });
}

std::string RemoteMessageManager::requestURL() const {
    const auto languages = NSLocale::preferredLanguages();
    const std::string language = languages.empty() ? "" : languages.front().substr(0, 2);
    const std::string url = serverUrl_ + "?app=" + appID_ + "&lng=" + language + "&version=" + version_;
    return stringByAddingPercentEncodingWithAllowedCharacters(url, URLAllowedCharacterSet::URLFragmentAllowed());
}

void RemoteMessageManager::checkNewMessage(std::function<void()> completion) {
    std::weak_ptr<RemoteMessageManager> weak = self<RemoteMessageManager>();
    // Every ending, on the main queue: a check that ends unheard would stop the periodic ones.
    auto finish = [weak, completion = std::move(completion)](std::optional<Value> reply) {
        DispatchQueue::mainQueue()->async([weak, completion, reply = std::move(reply)] {
            auto me = weak.lock();
            if (me && reply) me->handleReply(*reply);
            if (completion) completion();
        });
    };
    auto request = OERequest::initWithString(requestURL());
    if (!request) {
        finish(std::nullopt);
        return;
    }
    request->startWithCompletion([finish](const NSData& body, long, const NSErrorPtr& error) {
        if (error || body.empty()) {
            finish(std::nullopt);
            return;
        }
        finish(parseData(body));
    });
}

std::optional<Value> RemoteMessageManager::parseData(const NSData& data) {
    NSErrorPtr error;
    Value parsed = NSJSONSerialization::JSONObjectWithData(data, &error);
    if (error) return std::nullopt;
    return parsed;
}

void RemoteMessageManager::handleReply(const Value& reply) {
    if (!reply.isArray()) return;
    const Value::Array shown = lastMessageIds();
    for (const auto& entry : reply.array()) {
        if (!entry.isDictionary()) continue;
        auto message = RemoteMessageFactory::buildMessage(entry);
        const std::string identifier = message ? message->identifier() : "";
        // Without an identifier a message could not be recorded, and would show at every check.
        if (identifier.empty()) continue;
        const bool seen = std::any_of(shown.begin(), shown.end(),
                                      [&](const Value& id) { return id.stringValue() == identifier; });
        if (seen) continue;
        addNewMessageID(identifier);
        lastShown_ = message;
        message->show();
        return;
    }
}

const Value::Array& RemoteMessageManager::lastMessageIds() {
    if (!lastMessageIDArray_) lastMessageIDArray_ = NSUserDefaults::standardUserDefaults()->arrayForKey(key());
    return *lastMessageIDArray_;
}

void RemoteMessageManager::addNewMessageID(const std::string& identifier) {
    lastMessageIds();
    lastMessageIDArray_->push_back(Value(identifier));
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (!defaults->setObject(Value(*lastMessageIDArray_), key())) return;
    // A failed write is told by the defaults, which keep the value and write it with the next change.
    (void)defaults->synchronize();
}

void RemoteMessageManager::restartTimer() {
    stopTimer();
    if (updateInterval_ <= 0) return;
    std::weak_ptr<RemoteMessageManager> weak = self<RemoteMessageManager>();
    timer_ = NSTimer::scheduledTimerWithTimeInterval(updateInterval_, false, [weak](const std::shared_ptr<NSTimer>&) {
        if (auto me = weak.lock()) me->checkWithTimerRestart();
    });
}

void RemoteMessageManager::stopTimer() {
    if (timer_) timer_->invalidate();
    timer_.reset();
}

bool RemoteMessageManager::hasTimer() const { return timer_ && timer_->isValid(); }
