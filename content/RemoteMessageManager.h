// Asks the maker's message server, at launch, on every return to the foreground and, with an
// interval, periodically, for the application's messages, and shows the first one never shown
// before. Shown identifiers are stored (before the message shows) and only ever added to.
// The reply is handled on the main queue, so two checks never race over the identifiers.
#pragma once

#include "content/RemoteMessage.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class NSTimer;
class OERequest;

class RemoteMessageManager : public NSObject {
public:
    // The server's address: the host under the user default "OERemoteMessagesHost" (a deployment
    // or scripts/run sets it), else a name that cannot leave the machine, with the message path.
    static std::string defaultServerUrl();
    static constexpr const char* kHostDefaultsKey = "OERemoteMessagesHost";
    static constexpr const char* kDefaultHost = "http://messages.ostrel.invalid";
    static constexpr const char* kMessagePath = "/app_msg_manager/get_msg.php";

    // The shared manager, made on first use.
    static std::shared_ptr<RemoteMessageManager> sharedManager();
    // Forgets the shared manager, its timer and its request, as a new process would (tests).
    static void resetSharedManager();
    static bool hasSharedManager();

    // Sets the four values on the shared manager, then checks (and re-arms the timer).
    static void appDidLaunched(const std::string& appID, const std::string& version, const std::string& serverUrl,
                               double updateInterval);
    static void appWillEnterBackground();
    static void appWillEnterForeground();

    void checkWithTimerRestart();
    // One check; `completion` (may be empty) runs on the main queue when it is over, whatever
    // came back.
    void checkNewMessage(std::function<void()> completion);
    // A one-shot timer of the interval on the main run loop, when the interval is above 0.
    void restartTimer();
    void stopTimer();
    bool hasTimer() const;

    // The shown identifiers, oldest first (read from the defaults on first use).
    const Value::Array& lastMessageIds();
    // Appends, stores the whole list and writes the defaults.
    void addNewMessageID(const std::string& identifier);
    // The JSON of the reply; none when it is not JSON.
    static std::optional<Value> parseData(const NSData& data);
    // "com.norvane.remote_notifications.lastids_array".
    static const std::string& key();
    // "<server>?app=<id>&lng=<2 letters>&version=<version>", escaped with the URL-fragment set.
    std::string requestURL() const;

    void setAppID(std::string appID) { appID_ = std::move(appID); }
    void setUrl(std::string serverUrl) { serverUrl_ = std::move(serverUrl); }
    void setVersion(std::string version) { version_ = std::move(version); }
    void setUpdateInterval(double seconds) { updateInterval_ = seconds; }
    double updateInterval() const { return updateInterval_; }
    // The message shown by the last check that showed one; empty before.
    std::shared_ptr<RemoteMessage> lastShownMessage() const { return lastShown_.lock(); }

    ~RemoteMessageManager() override;

private:
    // On the main queue: the first entry not shown yet is recorded and shown.
    void handleReply(const Value& reply);

    std::string appID_;
    std::shared_ptr<NSTimer> timer_;
    double updateInterval_ = 30;
    std::optional<Value::Array> lastMessageIDArray_;
    std::string serverUrl_;
    std::string version_;
    std::weak_ptr<RemoteMessage> lastShown_;
};
