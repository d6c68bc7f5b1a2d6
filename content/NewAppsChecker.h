// The number of the maker's applications published since the user last looked: read from a
// property list on the content server at start-up and then every ten minutes, kept across
// launches, and announced by notifications that the menu and the menu buttons follow. The
// fetch runs off the main thread; the counts, the defaults and the notifications stay on it.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class NewAppsChecker : public NSObject {
public:
    // Posted on the main thread, object nil.
    static constexpr const char* kFoundMessage = "NewAppsFoundMessage";
    static constexpr const char* kResetMessage = "NewAppsResetMessage";
    static constexpr const char* kStartKey = "kAppsStartKey";
    static constexpr const char* kCountKey = "kAppsCountKey";
    static constexpr double kCheckInterval = 600;
    static constexpr const char* kReminderKey = "NewAppsChecker";

    // Makes what repeats the check every `interval` seconds under `key` (the launch's time
    // reminder, which counts across suspensions) and answers it; the checker keeps it.
    using ReminderMaker =
        std::function<std::shared_ptr<NSObject>(double interval, const std::string& key, std::function<void()> check)>;

    // The shared checker, made on first use.
    static std::shared_ptr<NewAppsChecker> sharedNewAppsChecker();
    // Forgets the shared checker, as a new process would (tests); its stored counts stay.
    static void resetSharedNewAppsChecker();
    static bool hasSharedNewAppsChecker();

    void setReminderMaker(ReminderMaker maker) { reminderMaker_ = std::move(maker); }
    // Keeps the URL; the start count is the larger of `startCount` and the stored one, the
    // known count the larger of that and the stored one; makes the repeating reminder; checks.
    void appStartedWithAppsUrl(const std::string& plistUrl, std::int32_t startCount);
    // One check in the background; a count above the start count is announced.
    void checkNewApps();
    // The known count becomes `count`, is stored, and "NewAppsFoundMessage" is posted.
    void newAppsFounded(std::int64_t count);
    // The menu badge: known − start, never below 0.
    long newApps() const;
    // The user has seen them: the start count becomes the known count, is stored, and
    // "NewAppsFoundMessage" then "NewAppsResetMessage" are posted.
    void resetApps();

    const std::string& plistUrl() const { return plistUrl_; }
    std::int64_t startCount() const { return startCount_; }
    std::int64_t appsCount() const { return appsCount_; }
    const std::shared_ptr<NSObject>& reminder() const { return reminder_; }
    void setReminder(std::shared_ptr<NSObject> reminder) { reminder_ = std::move(reminder); }

    // "count" of a property-list dictionary as a 32-bit number; 0 for anything else.
    static std::int64_t countFromPropertyList(const NSData& bytes);

private:
    std::string plistUrl_;
    std::int64_t startCount_ = 0;
    std::int64_t appsCount_ = 0;
    std::shared_ptr<NSObject> reminder_;
    ReminderMaker reminderMaker_;
};
