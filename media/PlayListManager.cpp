// Playlists as property-list files in Documents.
#include "media/PlayListManager.h"

#include "media/CompositionsSource.h"
#include "media/MediaPlayerItem.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSStringFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

const FileSystem& files(const CompositionsSource& source) { return source.context()->files(); }

}  // namespace

std::shared_ptr<PlayListManager> PlayListManager::initWithSource(std::shared_ptr<CompositionsSource> source) {
    std::srand(static_cast<unsigned>(static_cast<long long>(Clock::now())));
    return std::shared_ptr<PlayListManager>(new PlayListManager(std::move(source)));
}

std::shared_ptr<PlayList> PlayListManager::createPlayList(const std::string& name) {
    const auto seconds = static_cast<long>(Clock::now());
    return PlayList::make(NSString::format("%ld-%d%@", seconds, std::rand(), std::string(".mplist")), name);
}

std::string PlayListManager::playListFilePath(const PlayList& list) const {
    return files(*source_).documentsFolder() + "/" + list.filename;
}

std::vector<std::shared_ptr<PlayList>> PlayListManager::playLists() const {
    std::vector<std::shared_ptr<PlayList>> lists;
    const std::string folder = files(*source_).documentsFolder();
    std::vector<std::string> names;
    if (FileIO::current()->listFolder(folder, names) != 0) return lists;
    std::sort(names.begin(), names.end());
    for (const auto& fileName : names) {
        if (!NSString::containsString(fileName, ".mplist")) continue;
        NSErrorPtr error;
        const Value stored = NSPropertyListSerialization::propertyListWithContentsOfFile(folder + "/" + fileName, &error);
        auto list = PlayList::make(fileName, "");
        std::string leftOut;
        std::size_t leftOutCount = 0;
        if (!stored.isDictionary()) {
            Diagnostics::notef("The playlist %s cannot be read.", fileName.c_str());
            lists.push_back(list);
            continue;
        }
        for (const auto& entry : stored.dictionary()) {
            if (entry.first == "name") {
                list->name = entry.second.stringValue();
            } else if (entry.first == "items") {
                const auto& keys = entry.second.array();
                const std::size_t count = std::min(keys.size(), kMaximumEntries);
                if (count < keys.size()) {
                    Diagnostics::notef("The playlist %s holds %zu tracks; only its first %zu are read.", fileName.c_str(),
                                       keys.size(), count);
                    list->storedEntries = entry.second;
                    list->firstUnreadEntry = count;
                }
                std::vector<std::int32_t> indexes;
                indexes.reserve(count);
                for (std::size_t i = 0; i < count; ++i) indexes.push_back(static_cast<std::int32_t>(keys[i].intValue()));
                list->items = source_->compositionsForIndexes(indexes);
                // The items come in the entries' order, less those that name no composition.
                std::size_t found = 0;
                for (std::size_t i = 0; i < count; ++i) {
                    if (found < list->items.size() && list->items[found]->key() == std::to_string(indexes[i])) {
                        ++found;
                        continue;
                    }
                    if (++leftOutCount > kNamedLeftOut) continue;
                    leftOut += (leftOut.empty() ? "" : ", ") + keys[i].stringValue();
                }
            } else if (entry.first != "filename") {
                list->extra.set(entry.first, entry.second);
            }
        }
        if (leftOutCount > 0) {
            // Said, not fixed: the file keeps the entries, for a catalogue that may hold them again.
            if (leftOutCount > kNamedLeftOut)
                leftOut += ", and " + std::to_string(leftOutCount - kNamedLeftOut) + " more";
            Diagnostics::notef("The playlist \"%s\" (%s) leaves out %zu %s that name no composition here: %s.",
                               list->name.c_str(), fileName.c_str(), leftOutCount,
                               leftOutCount == 1 ? "entry" : "entries", leftOut.c_str());
        }
        lists.push_back(list);
    }
    std::stable_sort(lists.begin(), lists.end(), [](const auto& a, const auto& b) {
        return NSString::compare(a->name, b->name) == NSOrderedAscending;
    });
    return lists;
}

bool PlayListManager::savePlaylist(const PlayList& list) const {
    if (!FileSystem::isSafeRelativePath(list.filename) || list.filename.find('/') != std::string::npos) return false;
    Value::Dictionary stored = list.extra;
    stored.set("filename", Value(list.filename));
    stored.set("name", Value(list.name));
    Value::Array keys;
    for (const auto& item : list.items) keys.push_back(Value(item->key()));
    if (list.storedEntries.isArray()) {
        const auto& stored = list.storedEntries.array();
        for (std::size_t i = list.firstUnreadEntry; i < stored.size(); ++i) keys.push_back(stored[i]);
    }
    stored.set("items", Value(keys));
    const std::string path = playListFilePath(list);
    NSErrorPtr error;
    if (!NSPropertyListSerialization::writePropertyList(Value(stored), path,
                                                        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0, &error)) {
        Diagnostics::notef("The playlist %s could not be saved: %s", list.filename.c_str(),
                           error ? error->localizedDescription().c_str() : "");
        return false;
    }
    (void)FileSystem::setNoBackupAttribute(path);
    return true;
}

bool PlayListManager::deletePlayList(const PlayList& list) const {
    if (list.filename.empty() || list.filename.find('/') != std::string::npos) return false;
    const int err = FileIO::current()->remove(playListFilePath(list));
    return err == 0 || err == ENOENT;
}
