// Folders, paths, lookups and the do-not-back-up mark.
#include "config/FileSystem.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSSearchPath.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PathComponent.h"
#include "platform/foundation/ProcessShared.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <unordered_set>

namespace {
ProcessShared<FileSystem> gFiles;
}  // namespace

std::shared_ptr<FileSystem> FileSystem::sharedFileSystem() { return gFiles.get(); }

void FileSystem::resetSharedFileSystem() { (void)gFiles.take(); }

bool FileSystem::hasSharedFileSystem() { return gFiles.current() != nullptr; }

std::string FileSystem::cachedFolderLocked(std::optional<std::string>& slot, unsigned long directory) const {
    if (slot) return *slot;
    const auto folders = NSSearchPathForDirectoriesInDomains(static_cast<NSSearchPathDirectory>(directory),
                                                             NSUserDomainMask, true);
    if (folders.empty() || folders.front().empty()) return {};
    slot = folders.front();
    return *slot;
}

std::string FileSystem::documentsFolder() const {
    MutexLock lock(mutex_);
    return cachedFolderLocked(documentsFolder_, NSDocumentDirectory);
}

std::string FileSystem::libraryFolder() const {
    MutexLock lock(mutex_);
    return cachedFolderLocked(libraryFolder_, NSLibraryDirectory);
}

std::string FileSystem::cachesFolder() const {
    MutexLock lock(mutex_);
    return cachedFolderLocked(cachesFolder_, NSCachesDirectory);
}

void FileSystem::resetFolderCaches() {
    {
        MutexLock lock(mutex_);
        documentsFolder_.reset();
        libraryFolder_.reset();
        cachesFolder_.reset();
    }
    writableFilesChanged();
}

namespace {
// An unknown folder gives no path rather than one relative to wherever the process runs.
std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return {};
    return folder + "/" + name;
}
}  // namespace

std::string FileSystem::documentsPathForFile(const std::string& name) const { return join(documentsFolder(), name); }

std::string FileSystem::cachesPathForFile(const std::string& name) const { return join(cachesFolder(), name); }

std::string FileSystem::libraryDocsFolder() const {
    const std::string folder = libraryDocsFolderName();
    if (folder.empty()) return {};
    NSErrorPtr error;
    // The path is still the one to use: the write into it fails with its own error.
    if (!NSFileManager::defaultManager()->createDirectoryAtPath(folder, true, {}, &error))
        Diagnostics::note(error->localizedDescription());
    return folder;
}

std::string FileSystem::libraryDocsFolderName() const {
    const std::string library = libraryFolder();
    if (library.empty()) return {};
    auto bundle = NSBundle::mainBundle();
    return library + "/" +
           safePathComponent(bundle ? bundle->bundleIdentifier() : std::string(), "", "The bundle identifier") +
           ".private_documents";
}

std::string FileSystem::libraryDocsPathForFile(const std::string& name) const { return join(libraryDocsFolder(), name); }

std::string FileSystem::bundlePathForFile(const std::string& name) const {
    auto bundle = NSBundle::mainBundle();
    return bundle ? join(bundle->resourcePath(), name) : std::string();
}

bool FileSystem::fileExistInBundle(const std::string& name) const {
    const std::string path = bundlePathForFile(name);
    return !path.empty() && NSFileManager::defaultManager()->fileExistsAtPath(path);
}

namespace {
std::optional<std::string> firstExisting(std::initializer_list<std::string> paths) {
    auto manager = NSFileManager::defaultManager();
    for (const std::string& path : paths) {
        if (!path.empty() && manager->fileExistsAtPath(path)) return path;
    }
    return std::nullopt;
}
}  // namespace

// Looking needs no folder made: a file in a folder that is not there is simply not found.
std::optional<std::string> FileSystem::findFilePath(const std::string& name) const {
    return firstExisting({bundlePathForFile(name), documentsPathForFile(name), join(libraryDocsFolderName(), name),
                          cachesPathForFile(name)});
}

std::optional<std::string> FileSystem::findFilePathInWritableLocation(const std::string& name) const {
    return firstExisting({documentsPathForFile(name), join(libraryDocsFolderName(), name), cachesPathForFile(name)});
}

namespace {
// A screen of thumbnails asks about the same few hundred pictures over and over; past this many
// the remembered answers start afresh rather than grow with the catalogue.
constexpr std::size_t kRememberedLimit = 8192;

// One spelling per file, so that "Data//x" announced forgets what "Data/./x" found.
std::string rememberedKey(std::string_view name) {
    std::string key;
    key.reserve(name.size());
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos) end = name.size();
        const std::string_view component = name.substr(start, end - start);
        if (!component.empty() && component != ".") {
            if (!key.empty()) key += '/';
            key += component;
        }
        start = end + 1;
    }
    return key;
}
}  // namespace

std::optional<std::string> FileSystem::rememberedFilePathInWritableLocation(const std::string& name) const {
    std::string key = rememberedKey(name);
    std::uint64_t generation = 0;
    {
        MutexLock lock(rememberedMutex_);
        if (auto it = remembered_.find(key); it != remembered_.end()) {
            if (it->second.empty()) return std::nullopt;
            return it->second;
        }
        generation = rememberedGeneration_;
    }
    auto found = findFilePathInWritableLocation(name);
    MutexLock lock(rememberedMutex_);
    // An announcement made while the folders were looked through may concern this very file.
    if (generation == rememberedGeneration_) {
        if (remembered_.size() >= kRememberedLimit) remembered_.clear();
        remembered_[std::move(key)] = found.value_or(std::string());
    }
    return found;
}

void FileSystem::writableFileChanged(const std::string& name) const {
    MutexLock lock(rememberedMutex_);
    ++rememberedGeneration_;
    remembered_.erase(rememberedKey(name));
}

void FileSystem::writableFilesChanged() const {
    MutexLock lock(rememberedMutex_);
    ++rememberedGeneration_;
    remembered_.clear();
}

namespace {
// A folder's entries, each with whether it is surely there for a lookup that follows links:
// a link (or an entry of unknown kind) is only there when what it leads to is.
struct Listing {
    std::unordered_map<std::string, bool> entries;
};

// Empty when the folder cannot be read although it may be there (no permission to list it).
std::optional<Listing> listFolder(const std::string& folder) {
    Listing listing;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR) return listing;
        return std::nullopt;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const unsigned char type = entry->d_type;
        listing.entries.emplace(entry->d_name, type != DT_LNK && type != DT_UNKNOWN);
    }
    ::closedir(dir);
    return listing;
}
}  // namespace

std::size_t FileSystem::countFound(const std::vector<std::string>& names) const {
    auto bundle = NSBundle::mainBundle();
    const std::string roots[] = {bundle ? bundle->resourcePath() : std::string(), documentsFolder(),
                                 libraryDocsFolderName(), cachesFolder()};
    // Folder -> its entries; none when it could not be listed, and its names are looked up one
    // by one.
    std::unordered_map<std::string, std::optional<Listing>> listings;
    auto manager = NSFileManager::defaultManager();
    std::size_t found = 0;
    for (const std::string& name : names) {
        const std::size_t slash = name.find_last_of('/');
        const std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash);
        const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
        for (const std::string& root : roots) {
            if (root.empty()) continue;
            const std::string path = join(root, name);
            // "." and ".." are never listed, and a trailing "/" names the folder itself.
            if (leaf.empty() || leaf == "." || leaf == "..") {
                if (manager->fileExistsAtPath(path)) {
                    ++found;
                    break;
                }
                continue;
            }
            const std::string where = folder.empty() ? root : join(root, folder);
            auto [it, fresh] = listings.try_emplace(where);
            if (fresh) it->second = listFolder(where);
            bool present = false;
            if (!it->second) {
                present = manager->fileExistsAtPath(path);
            } else if (auto entry = it->second->entries.find(leaf); entry != it->second->entries.end()) {
                present = entry->second || manager->fileExistsAtPath(path);
            }
            if (present) {
                ++found;
                break;
            }
        }
    }
    return found;
}

bool FileSystem::setNoBackupAttribute(const std::string& path) {
    auto manager = NSFileManager::defaultManager();
    if (path.empty() || !manager->fileExistsAtPath(path)) return false;
    return manager->setExcludedFromBackup(true, path);
}

bool FileSystem::isSafeRelativePath(std::string_view relative) {
    if (relative.empty() || relative.front() == '/') return false;
    if (relative.find('\0') != std::string_view::npos) return false;
    bool namesSomething = false;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos) end = relative.size();
        const std::string_view component = relative.substr(start, end - start);
        if (component == "..") return false;
        if (!component.empty() && component != ".") namesSomething = true;
        start = end + 1;
    }
    return namesSomething;
}

std::optional<std::string> FileSystem::safePathInFolder(const std::string& folder, const std::string& relative,
                                                        bool createParentFolders) {
    if (folder.empty() || !isSafeRelativePath(relative)) return std::nullopt;
    const std::string path = folder + "/" + relative;
    if (createParentFolders) {
        // Only the folders below `folder`, one at a time: a folder of the sandbox that has gone
        // (a home being removed while a late write arrives) is never made again.
        const std::string parents = NSString::stringByDeletingLastPathComponent(relative);
        auto manager = NSFileManager::defaultManager();
        std::string current = folder;
        bool isDirectory = false;
        if (!manager->fileExistsAtPath(folder, &isDirectory) || !isDirectory) return std::nullopt;
        for (std::size_t from = 0; from < parents.size();) {
            const std::size_t slash = std::min(parents.find('/', from), parents.size());
            current += "/" + parents.substr(from, slash - from);
            from = slash + 1;
            // Made now, or there already as a folder.
            if (!manager->createDirectoryAtPath(current, false) &&
                !(manager->fileExistsAtPath(current, &isDirectory) && isDirectory))
                return std::nullopt;
        }
    }
    return path;
}

std::optional<std::string> FileSystem::safeDocumentsPathForFile(const std::string& relative,
                                                                bool createParentFolders) const {
    return safePathInFolder(documentsFolder(), relative, createParentFolders);
}

std::optional<std::string> FileSystem::safeCachesPathForFile(const std::string& relative, bool createParentFolders) const {
    return safePathInFolder(cachesFolder(), relative, createParentFolders);
}
