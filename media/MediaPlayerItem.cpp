// A track of the music library and where its file is.
#include "media/MediaPlayerItem.h"

#include "content/PictureURL.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSStringFormat.h"
#include "platform/net/NSURL.h"

#include <cerrno>

std::shared_ptr<MediaPlayerItem> MediaPlayerItem::mediaPlayerItemWithDictionary(
    Value::Dictionary data, std::shared_ptr<const MediaContext> context) {
    return std::shared_ptr<MediaPlayerItem>(new MediaPlayerItem(std::move(data), std::move(context)));
}

std::string MediaPlayerItem::key() const { return std::to_string(data_.get("index").intValue()); }

std::string MediaPlayerItem::path() const { return data_.get("filepath").stringValue(); }

bool MediaPlayerItem::exists() const {
    const std::string name = path();
    return !name.empty() && FileSystem::isSafeRelativePath(name) && context_->files().findFilePath(name).has_value();
}

bool MediaPlayerItem::deletable() const {
    const std::string name = path();
    return !(FileSystem::isSafeRelativePath(name) && context_->files().fileExistInBundle(name));
}

bool MediaPlayerItem::downloaded() const {
    const std::string name = path();
    return !name.empty() && FileSystem::isSafeRelativePath(name) && deletable() &&
           context_->files().findFilePathInWritableLocation(name).has_value();
}

std::shared_ptr<NSURL> MediaPlayerItem::itemUrl() const {
    const std::string name = path();
    if (name.empty() || !FileSystem::isSafeRelativePath(name)) return nullptr;
    if (auto found = context_->files().findFilePath(name)) return NSURL::fileURLWithPath(*found);
    return remoteURL(name, *context_);
}

std::shared_ptr<NSURL> MediaPlayerItem::remoteURL(const std::string& name, const MediaContext& context) {
    if (name.empty() || !FileSystem::isSafeRelativePath(name)) return nullptr;
    const auto& config = context.app.config;
    if (!config || !config->urlFormat() || !config->media()) return nullptr;
    const auto mediaFormat = config->media()->mediaFormat();
    if (!mediaFormat) return nullptr;
    // The format's two slots, the media format's name then the file, filled in order; a format
    // with other slots makes no URL.
    std::string url = config->urlFormat()->compositions();
    const std::string encoded = encodedPicturePath(name);
    for (const std::string* value : {&*mediaFormat, &encoded}) {
        const auto slot = url.find("%@");
        if (slot == std::string::npos) return nullptr;
        url.replace(slot, 2, *value);
    }
    return NSURL::URLWithString(url);
}

std::string MediaPlayerItem::fieldValue(const std::string& field) const {
    return context_->localizations().localizedValueFor(field, data_);
}

std::string MediaPlayerItem::rawValue(const std::string& field) const { return data_.get(field).stringValue(); }

bool MediaPlayerItem::removeDownloaded() {
    if (!deletable() || !FileSystem::isSafeRelativePath(path())) return true;
    const auto found = context_->files().findFilePathInWritableLocation(path());
    if (!found) return true;
    const int err = FileIO::current()->remove(*found);
    return err == 0 || err == ENOENT;
}

std::string MediaPlayerItem::description() const {
    return NSString::format("%@ {%@}", NSObject::description(), path());
}
