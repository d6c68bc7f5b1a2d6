// The application's folders, paths in them, file lookup across the bundle and the writable
// folders, the do-not-back-up mark, and checked joins for relative paths that come from data.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One per process, handed to whoever reads or writes the folders.
class FileSystem : public NSObject {
public:
    // The process's one, made on first use (thread-safe).
    static std::shared_ptr<FileSystem> sharedFileSystem();
    // Forgets it, as a new process would (tests, each in a home of its own); whoever holds it
    // keeps theirs.
    static void resetSharedFileSystem();
    // Whether there is one, without making it (tests).
    static bool hasSharedFileSystem();

    // Worked out once, under a lock, from the platform's search paths; "" while the platform
    // cannot name the folder (then nothing is cached and the next call asks again).
    std::string documentsFolder() const;
    std::string libraryFolder() const;
    std::string cachesFolder() const;
    // Forgets the cached folders and remembered lookups (a test that moves the sandbox home).
    void resetFolderCaches();

    // Folder + "/" + name, unchanged: a name may hold subfolders. "" when the folder is unknown.
    std::string documentsPathForFile(const std::string& name) const;
    std::string cachesPathForFile(const std::string& name) const;
    // Library + "/<bundle identifier>.private_documents", created on every call (the lookups
    // below only look in it).
    std::string libraryDocsFolder() const;
    std::string libraryDocsPathForFile(const std::string& name) const;
    std::string bundlePathForFile(const std::string& name) const;
    bool fileExistInBundle(const std::string& name) const;
    // First existing of bundle, documents, library documents, caches.
    [[nodiscard]] std::optional<std::string> findFilePath(const std::string& name) const;
    // First existing of documents, library documents, caches.
    [[nodiscard]] std::optional<std::string> findFilePathInWritableLocation(const std::string& name) const;
    // How many of the names findFilePath finds, with each folder they lie in listed once
    // rather than each name looked for in turn in the four places.
    [[nodiscard]] std::size_t countFound(const std::vector<std::string>& names) const;
    // The same, with the answer (found or not) remembered for the name until it is announced
    // changed: for files (the pictures of "Data") that only this application puts in place or
    // takes away, where every place that does so announces it with writableFileChanged after.
    [[nodiscard]] std::optional<std::string> rememberedFilePathInWritableLocation(const std::string& name) const;
    // After a file was put in place in, or removed from, a writable folder (Documents, the
    // private documents, Caches), successfully or not.
    void writableFileChanged(const std::string& name) const;
    // After more than one file went at once (a whole folder).
    void writableFilesChanged() const;

    // Marks the file so that backups leave it out; false when the mark could not be set.
    [[nodiscard]] static bool setNoBackupAttribute(const std::string& path);

    // A relative path taken from data (a database value, a server list) is safe when it is not
    // empty, not absolute, and has no "." or ".." component and no NUL byte.
    [[nodiscard]] static bool isSafeRelativePath(std::string_view relative);
    // folder + "/" + relative when it is safe, with the parent folders of the result below
    // `folder` created when asked; empty when refused, when `folder` is not there, or when a
    // parent folder could not be made.
    [[nodiscard]] static std::optional<std::string> safePathInFolder(const std::string& folder, const std::string& relative,
                                                       bool createParentFolders);
    // The same inside the documents and caches folders.
    [[nodiscard]] std::optional<std::string> safeDocumentsPathForFile(const std::string& relative,
                                                        bool createParentFolders = true) const;
    [[nodiscard]] std::optional<std::string> safeCachesPathForFile(const std::string& relative,
                                                     bool createParentFolders = true) const;

private:
    std::string cachedFolderLocked(std::optional<std::string>& slot, unsigned long directory) const REQUIRES(mutex_);
    // libraryDocsFolder's path, not created.
    std::string libraryDocsFolderName() const;

    mutable Mutex mutex_;
    mutable std::optional<std::string> documentsFolder_ GUARDED_BY(mutex_);
    mutable std::optional<std::string> libraryFolder_ GUARDED_BY(mutex_);
    mutable std::optional<std::string> cachesFolder_ GUARDED_BY(mutex_);

    // Name -> where it was found (empty: nowhere). Moves on with every announcement, so that a
    // lookup that raced one is not remembered.
    mutable Mutex rememberedMutex_;
    mutable std::unordered_map<std::string, std::string> remembered_ GUARDED_BY(rememberedMutex_);
    mutable std::uint64_t rememberedGeneration_ GUARDED_BY(rememberedMutex_) = 0;
};
