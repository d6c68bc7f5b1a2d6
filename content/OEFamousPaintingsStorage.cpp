// The stored famous-paintings list and the read marks.
#include "content/OEFamousPaintingsStorage.h"

#include "content/ContentLog.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"

std::shared_ptr<OEFamousPaintingsStorage> OEFamousPaintingsStorage::initWithFileSystem(
    std::shared_ptr<FileSystem> fileSystem) {
    auto storage = std::make_shared<OEFamousPaintingsStorage>();
    storage->fileSystem_ = fileSystem ? std::move(fileSystem) : FileSystem::sharedFileSystem();
    return storage;
}

std::optional<Value::Array> OEFamousPaintingsStorage::paintingsList() const {
    MutexLock lock(mutex_);
    return paintingsList_;
}

void OEFamousPaintingsStorage::setPaintingsList(std::optional<Value::Array> list) {
    MutexLock lock(mutex_);
    paintingsList_ = std::move(list);
}

std::string OEFamousPaintingsStorage::pathForStoredList() const { return fileSystem_->libraryDocsPathForFile(kListFileName); }

void OEFamousPaintingsStorage::load() {
    const std::string path = pathForStoredList();
    std::optional<Value::Array> list;
    if (!path.empty() && NSFileManager::defaultManager()->fileExistsAtPath(path)) {
        const Value stored = NSPropertyListSerialization::propertyListWithContentsOfFile(path);
        if (stored.isArray()) list = stored.array();
    }
    setPaintingsList(std::move(list));
}

bool OEFamousPaintingsStorage::storeList(const Value::Array& list) {
    const std::string path = pathForStoredList();
    if (path.empty()) return false;
    NSErrorPtr error;
    if (!NSPropertyListSerialization::writePropertyList(Value(list), path,
                                                        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0, &error)) {
        ContentLog::log(NSString::format("The famous paintings could not be kept at %@. %@", path,
                                         error ? error->localizedDescription() : std::string("Unknown error.")));
        return false;
    }
    (void)FileSystem::setNoBackupAttribute(path);
    return true;
}

std::string OEFamousPaintingsStorage::postStatusKey(std::int64_t identifier) {
    return NSString::format("famous_post_status_%ld", static_cast<long>(identifier));
}

bool OEFamousPaintingsStorage::isPostNew(std::int64_t identifier) const {
    return !NSUserDefaults::standardUserDefaults()->boolForKey(postStatusKey(identifier));
}

void OEFamousPaintingsStorage::markPostDidRead(std::int64_t identifier) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setBool(true, postStatusKey(identifier));
    // A failed write is told by the defaults, which keep the value and write it with the next change.
    (void)defaults->synchronize();
}
