// The property-list file store with coalesced deferred writes.
#include "analytics/core/APMPersistentDictionary.h"

#include "analytics/core/APMStoreLog.h"
#include "analytics/core/APMFileLocations.h"
#include "platform/dispatch/DispatchBlock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"

#include <algorithm>

std::shared_ptr<APMPersistentDictionary> APMPersistentDictionary::initWithFileName(const std::string& fileName) {
    if (fileName.empty()) return nullptr;
    const std::string path = APMApplicationSupportPlistPath(fileName);
    if (path.empty()) return nullptr;
    if (!NSFileManager::defaultManager()->createDirectoryAtPath(NSString::stringByDeletingLastPathComponent(path),
                                                                true)) {
        APMStoreLogError(43004, "Cannot create subdirectories for config plist files.");
        return nullptr;
    }
    auto dictionary = std::make_shared<APMPersistentDictionary>();
    dictionary->filePath_ = path;
    if (NSFileManager::defaultManager()->fileExistsAtPath(path)) {
        Value contents = NSPropertyListSerialization::propertyListWithContentsOfFile(path);
        if (contents.isDictionary()) {
            MutexLock lock(dictionary->mutex_);
            dictionary->content_ = contents.dictionary();
        }
    }
    dictionary->serialQueue_ = DispatchQueue::create("APMPersistentDictionary");
    return dictionary;
}

APMPersistentDictionary::~APMPersistentDictionary() {
    // A change whose write failed is written now too, so it is not lost with the dictionary.
    if (hasPendingPersistence_ || version_ != savedVersion_) (void)writeContent(content_, filePath_);
    if (deferredWrite_) deferredWrite_->cancel();
}

bool APMPersistentDictionary::hasPendingPersistence() const {
    MutexLock lock(mutex_);
    return hasPendingPersistence_;
}

Value APMPersistentDictionary::objectForKey(const Value& key) {
    if (!isValidKey(key)) {
        APMStoreLogWarning(43001, "Cannot get object for invalid config key.");
        return Value();
    }
    MutexLock lock(mutex_);
    return content_.get(key.string());
}

void APMPersistentDictionary::setObject(const Value& value, const Value& key) {
    if (!isValidKey(key)) {
        APMStoreLogWarning(43002, "Cannot set object for invalid config key.");
        return;
    }
    if (value.isNull()) {
        MutexLock lock(mutex_);
        if (!content_.erase(key.string())) return;
        ++version_;
        schedulePersistToDiskLocked();
        return;
    }
    if (!isAcceptedValue(value)) {
        APMStoreLogWarning(43003,
                   "Cannot set invalid object to config. Must be a string, number, array, dictionary, date, or data. "
                   "Value " +
                       value.description());
        return;
    }
    MutexLock lock(mutex_);
    const Value* current = content_.find(key.string());
    if (current && *current == value) return;
    content_.set(key.string(), value.deepCopy());
    ++version_;
    schedulePersistToDiskLocked();
}

void APMPersistentDictionary::clearAllData() {
    MutexLock lock(mutex_);
    if (content_.empty()) return;
    content_.clear();
    ++version_;
    schedulePersistToDiskLocked();
}

std::optional<std::uint64_t> APMPersistentDictionary::changeStamp() const {
    MutexLock lock(mutex_);
    return version_;
}

void APMPersistentDictionary::schedulePersistToDisk() {
    MutexLock lock(mutex_);
    schedulePersistToDiskLocked();
}

void APMPersistentDictionary::schedulePersistToDiskLocked() {
    if (hasPendingPersistence_) return;
    hasPendingPersistence_ = true;
    std::weak_ptr<APMPersistentDictionary> weak = weakSelf<APMPersistentDictionary>();
    deferredWrite_ = DispatchBlock::create([weak] {
        // A failure is logged, and the next change or the release writes again.
        if (auto strong = weak.lock()) (void)strong->persistToDisk();
    });
    serialQueue_->after(1.0, deferredWrite_);
}

bool APMPersistentDictionary::persistToDisk() {
    Value::Dictionary copy;
    std::string path;
    std::uint64_t version = 0;
    {
        MutexLock lock(mutex_);
        copy = content_;
        path = filePath_;
        version = version_;
        hasPendingPersistence_ = false;
    }
    if (!writeContent(copy, path)) return false;
    MutexLock lock(mutex_);
    // A later write may have landed first: the file never goes back to an older version.
    savedVersion_ = std::max(savedVersion_, version);
    return true;
}

bool APMPersistentDictionary::persistPendingToDisk() {
    bool written = true;
    serialQueue_->sync([&] {
        bool pending = false;
        {
            MutexLock lock(mutex_);
            pending = hasPendingPersistence_ || version_ != savedVersion_;
        }
        if (pending) written = persistToDisk();
    });
    return written;
}

bool APMPersistentDictionary::writeContent(const Value::Dictionary& content, const std::string& path) {
    NSErrorPtr error;
    if (NSPropertyListSerialization::writePropertyList(Value(content), path,
                                                       NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0,
                                                       &error)) {
        return true;
    }
    APMStoreLogError(43000, "Cannot persist configs to disk");
    return false;
}
