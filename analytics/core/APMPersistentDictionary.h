// A typed key-value store over one property-list file in Application Support/Vizudi/Measurement,
// held in memory and written back atomically one second after a change.
#pragma once

#include "analytics/core/APMConfigStore.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdint>
#include <memory>
#include <string>

class DispatchBlock;
class DispatchQueue;

class APMPersistentDictionary : public NSObject, public APMConfigStore {
public:
    // ".plist" is added unless the name has it. Empty for an empty name, a path that cannot be
    // formed, or a folder that cannot be created (43004). A missing or unreadable file starts empty.
    [[nodiscard]] static std::shared_ptr<APMPersistentDictionary> initWithFileName(const std::string& fileName);
    // A pending write happens at once.
    ~APMPersistentDictionary() override;

    const std::string& filePath() const { return filePath_; }
    // The serial "APMPersistentDictionary" queue on which deferred writes run.
    std::shared_ptr<DispatchQueue> serialQueue() const { return serialQueue_; }
    bool hasPendingPersistence() const;

    Value objectForKey(const Value& key) override;
    void setObject(const Value& value, const Value& key) override;
    void removeObjectForKey(const Value& key) override { setObject(Value(), key); }
    void clearAllData() override;
    // Writes follow their own schedule.
    void synchronize() override {}
    std::optional<std::uint64_t> changeStamp() const override;

    // Arranges one write a second from now unless one is pending.
    void schedulePersistToDisk();
    // Writes a copy of the content now; false when the write failed (logged), in which case the
    // content is written again with the next change, or when the dictionary is released.
    [[nodiscard]] bool persistToDisk();
    // As the release would: a change the file does not hold yet (a write pending or one that
    // failed) is written now, on the serial queue behind any deferred write that is running.
    // False when that write failed (logged).
    [[nodiscard]] bool persistPendingToDisk();

private:
    [[nodiscard]] static bool writeContent(const Value::Dictionary& content, const std::string& path);

    // Arranges the deferred write.
    void schedulePersistToDiskLocked() REQUIRES(mutex_);

    std::string filePath_;
    std::shared_ptr<DispatchQueue> serialQueue_;
    // The content is changed by callers on any queue and read by the deferred write on
    // serialQueue_: a real cross-thread share, so it keeps a lock.
    mutable Mutex mutex_;
    Value::Dictionary content_ GUARDED_BY(mutex_);
    bool hasPendingPersistence_ GUARDED_BY(mutex_) = false;
    // The deferred write arranged last: the release writes at once instead.
    std::shared_ptr<DispatchBlock> deferredWrite_ GUARDED_BY(mutex_);
    // Counts the changes (the change stamp); the file holds the content as of savedVersion_.
    std::uint64_t version_ GUARDED_BY(mutex_) = 0;
    std::uint64_t savedVersion_ GUARDED_BY(mutex_) = 0;
};
