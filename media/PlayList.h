// A user's playlist in memory: its file name in Documents, its name, its tracks in play order,
// and whatever other keys its file held (kept as they were).
#pragma once

#include "media/MediaSource.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstddef>
#include <memory>
#include <string>

class PlayList : public NSObject {
public:
    static std::shared_ptr<PlayList> make(std::string filename, std::string name) {
        auto list = std::make_shared<PlayList>();
        list->filename = std::move(filename);
        list->name = std::move(name);
        return list;
    }

    std::string filename;
    std::string name;
    MediaItems items;
    // Keys of the file other than "filename", "name" and "items".
    Value::Dictionary extra;
    // Of a file's "items" longer than what is read, the whole stored array and the first entry not
    // read: saving writes those entries back after the tracks, so an edit loses none of them.
    Value storedEntries;
    std::size_t firstUnreadEntry = 0;
};
