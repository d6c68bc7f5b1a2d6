// One track of the music library: a row of the media database's "compositions" table, where
// its audio file is (shipped, downloaded, or only on the content server) and the URL to play.
#pragma once

#include "media/MediaContext.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class NSURL;

inline const std::string MediaPlayerItemChangedNotification = "MediaPlayerItemChangedNotification";

class MediaPlayerItem : public NSObject {
public:
    static std::shared_ptr<MediaPlayerItem> mediaPlayerItemWithDictionary(Value::Dictionary data,
                                                                          std::shared_ptr<const MediaContext> context);
    static std::shared_ptr<MediaPlayerItem> initWithDictionary(Value::Dictionary data,
                                                               std::shared_ptr<const MediaContext> context) {
        return mediaPlayerItemWithDictionary(std::move(data), std::move(context));
    }

    // The row as the database gave it: column name to text.
    const Value::Dictionary& data() const { return data_; }
    const std::shared_ptr<const MediaContext>& context() const { return context_; }
    // Set by the player while a streamed track loads.
    bool buffering() const { return buffering_; }
    void setBuffering(bool buffering) { buffering_ = buffering; }

    // "%d" of the row index: how playlists store the track.
    std::string key() const;
    // The relative file path ("filepath").
    std::string path() const;
    // Shipped or downloaded (bundle, Documents, library documents, caches).
    bool exists() const;
    // Not shipped with the application: a shipped track is never deleted.
    bool deletable() const;
    // In a writable location and not shipped.
    bool downloaded() const;
    // The local file when there is one, else the content server's file (each path segment
    // percent-encoded); empty when neither can be made (an unsafe path, no URL format).
    std::shared_ptr<NSURL> itemUrl() const;
    // The content server's URL of a file path; empty as above.
    static std::shared_ptr<NSURL> remoteURL(const std::string& path, const MediaContext& context);
    // A localised field ("name", "author_name") for the current language.
    std::string fieldValue(const std::string& field) const;
    // A column read as it is, for fields that have no translations ("time", "filepath").
    std::string rawValue(const std::string& field) const;
    // Deletes the downloaded copy; a shipped file is never touched. True when no downloaded
    // copy is left afterwards.
    [[nodiscard]] bool removeDownloaded();

    std::string description() const override;

private:
    MediaPlayerItem(Value::Dictionary data, std::shared_ptr<const MediaContext> context)
        : data_(std::move(data)), context_(std::move(context)) {}
    const Value::Dictionary data_;
    const std::shared_ptr<const MediaContext> context_;
    bool buffering_ = false;
};
