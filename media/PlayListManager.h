// The user's playlists: one property-list file each in Documents ("<seconds>-<random>.mplist"),
// holding "filename", "name" and "items" (the tracks' row indexes as texts).
#pragma once

#include "media/PlayList.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class CompositionsSource;

class PlayListManager : public NSObject {
public:
    // Seeds the C library generator with the clock's whole seconds.
    static std::shared_ptr<PlayListManager> initWithSource(std::shared_ptr<CompositionsSource> source);

    const std::shared_ptr<CompositionsSource>& source() const { return source_; }
    // Every Documents file whose name contains ".mplist", sorted by name. An index the database
    // no longer holds is left out, and the log names such entries (the first kNamedLeftOut of
    // them); the file is not rewritten. A file that cannot be read is listed without a name or
    // tracks, under its own file name, so that it can still be deleted. Of a playlist's entries
    // only the first kMaximumEntries are read (the cut is logged); the rest are kept as they were
    // and written back after the tracks when the playlist is saved.
    std::vector<std::shared_ptr<PlayList>> playLists() const;
    static constexpr std::size_t kMaximumEntries = 10000;
    static constexpr std::size_t kNamedLeftOut = 20;

    // A new playlist in memory; nothing is written.
    static std::shared_ptr<PlayList> createPlayList(const std::string& name);
    std::string playListFilePath(const PlayList& list) const;
    // Writes the file atomically and marks it not to be backed up; false when it could not be written.
    [[nodiscard]] bool savePlaylist(const PlayList& list) const;
    // Removes the file; false when it is still there.
    [[nodiscard]] bool deletePlayList(const PlayList& list) const;

private:
    explicit PlayListManager(std::shared_ptr<CompositionsSource> source) : source_(std::move(source)) {}
    const std::shared_ptr<CompositionsSource> source_;
};
