// The famous-paintings posts kept on the device: the list as last received, in the property list
// "famous_paintings_articles" of the private documents folder, and the read marks, one user
// default "famous_post_status_<id>" per post read.
#pragma once

#include "config/FileSystem.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class OEFamousPaintingsStorage : public NSObject {
public:
    static std::shared_ptr<OEFamousPaintingsStorage> initWithFileSystem(std::shared_ptr<FileSystem> fileSystem);

    // The list in memory: none until load() found one or setPaintingsList() gave one.
    std::optional<Value::Array> paintingsList() const;
    void setPaintingsList(std::optional<Value::Array> list);
    // Reads the list file into memory (none when there is no readable list).
    void load();
    // Writes the list atomically (and marked not to be backed up); the list in memory stays.
    // False when it could not be written (the old file stays).
    [[nodiscard]] bool storeList(const Value::Array& list);

    // Yes unless the post was marked read.
    bool isPostNew(std::int64_t identifier) const;
    // Forced to disk at once.
    void markPostDidRead(std::int64_t identifier);

    std::string pathForStoredList() const;
    static std::string postStatusKey(std::int64_t identifier);
    static constexpr const char* kListFileName = "famous_paintings_articles";

private:
    std::shared_ptr<FileSystem> fileSystem_;
    mutable Mutex mutex_;
    std::optional<Value::Array> paintingsList_ GUARDED_BY(mutex_);
};
