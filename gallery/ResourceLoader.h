// The gallery's picture service: bundle pictures with their landscape variants, picture files
// wherever they lie, presence and deletion of downloaded pictures, and the viewed-pictures store.
#pragma once

#include "config/FileSystem.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UIApplication.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class DataSource;
class FullSizePictureHolder;
class UIImage;

// Posted (no object) when the set of downloaded pictures changed.
inline constexpr const char* kImagesDataChanged = "ImagesDataChanged";

class ResourceLoader : public NSObject {
public:
    // The process's one loader, made once on first use (from any thread) over the process's file
    // locator; the engine hands it to the picture screens.
    static std::shared_ptr<ResourceLoader> sharedResourceLoader();
    // Forgets it, as a new process would start (tests); whoever still holds it keeps it.
    static void resetSharedResourceLoader();
    static bool hasSharedResourceLoader();
    // A loader of its own over these file locations (tests, benchmarks).
    static std::shared_ptr<ResourceLoader> make(std::shared_ptr<FileSystem> fileSystem);
    explicit ResourceLoader(std::shared_ptr<FileSystem> fileSystem);
    ~ResourceLoader() override;

    // The suffix goes before the first "." of the name, or at its end.
    static std::string appendToPath(const std::string& name, const std::string& suffix);
    // "_land" for the landscape interface orientations.
    static std::string orientationPath(const std::string& name, UIInterfaceOrientation orientation);
    static std::string deviceSpecificPath(const std::string& name);

    // Bundle pictures by name, through the platform's named-image cache.
    std::shared_ptr<UIImage> loadOrientationImage(const std::string& name, UIInterfaceOrientation orientation) const;
    std::shared_ptr<UIImage> loadImage(const std::string& name, UIInterfaceOrientation orientation) const;
    std::shared_ptr<UIImage> loadImage(const std::string& name) const;

    // The one picture held at its full size (a picture page's), process-wide with the loader.
    const std::shared_ptr<FullSizePictureHolder>& fullSizePictures() const { return fullSizePictures_; }

    // A picture file found in the bundle, Documents, the private documents or Caches, decoded
    // afresh; empty when there is none or the path reaches outside those folders. A bundled file
    // that is no picture that can be shown gives way to a copy in the writable folders (one
    // downloaded in its place). Where it was found is remembered until pictures are announced
    // changed (postDataChanged) or removed here.
    // A file found that is no picture that can be shown (another kind behind the name, an empty
    // one, a header claiming more than the bytes hold) is logged once, until another file takes
    // its place, however often it is asked for.
    [[nodiscard]] std::shared_ptr<UIImage> loadImageFrom(const std::string& relativePath) const;
    // The same for a picture wanted whole: the one the full-size holder keeps from that file, when
    // it keeps one, rather than a second copy.
    [[nodiscard]] std::shared_ptr<UIImage> loadWholeImageFrom(const std::string& relativePath) const;
    // The same for a page's picture, decoded at once: whole (or the one the holder keeps) when it
    // decodes whole within the bound on a decode's memory, else reduced at the largest size up to
    // `maxPixelSize` that does (UIImage's images within the bound). Why the file found is refused
    // goes to `error` (UIImageErrorDomain).
    [[nodiscard]] std::shared_ptr<UIImage> loadShownImageFrom(const std::string& relativePath, int maxPixelSize,
                                                              NSErrorPtr* error) const;
    // The same, taken reduced to at most `maxPixelSize` pixels on a side (UIImage's reduced images):
    // what every picture but the page's is read with, at the size it is drawn.
    [[nodiscard]] std::shared_ptr<UIImage> loadImageFrom(const std::string& relativePath, int maxPixelSize) const;
    // The same at the largest size up to `maxPixelSize` that decodes within the bound on a decode's
    // memory (UIImage's largest reduced images): a page's picture too costly to decode whole.
    [[nodiscard]] std::shared_ptr<UIImage> loadLargestImageFrom(const std::string& relativePath, int maxPixelSize) const;
    // Whether the file is found in any of the four places.
    bool fileExistsInCaches(const std::string& relativePath) const;
    // How many of the paths are found as "Data/<path>" (each folder listed once).
    std::size_t countPresentImages(const std::vector<std::string>& paths) const;
    // Whether "Data/<path>" is found for every path; true for none.
    bool allImagesExists(const std::vector<std::string>& paths) const;
    // Documents/<path> when present, else Caches/<path>; at most one file, errors ignored.
    void deleteFileFromCashes(const std::string& relativePath) const;
    bool useLowImages() const { return false; }

    // Pictures (and thumbnails) whose copy from the server reads as a picture over the pixel cap by
    // its header, for this run: they are not fetched again only to be refused. Any other copy that
    // could not be shown may be mended on the server, and is asked for again. Marking returns
    // whether it is new.
    bool markServedCopyRefused(const std::string& relativePath) const;
    bool isServedCopyRefused(const std::string& relativePath) const;

    // The viewed-pictures store ("viewed_images" in Documents). Seeding marks every picture of
    // the source viewed when the store has never been written. A file that is there but cannot
    // be read is left alone: the marks of this run stay in memory.
    void resetNewImages(const std::shared_ptr<DataSource>& source);
    bool isNewImage(const std::string& path);
    void resetNewImage(const std::string& path, bool store);
    void resetNewImage(const std::string& path) { resetNewImage(path, true); }
    // Whether the store is in memory.
    bool isStoreLoaded() const { return newImages_.has_value(); }

    UIInterfaceOrientation currentOrientation() const;
    void postDataChanged() const;
    // Deletes Documents/Data and posts the change; the viewed store stays.
    void removeLoadedData() const;

    static constexpr const char* kViewedImagesFile = "viewed_images";

private:
    // Where loadImageFrom finds the file, if anywhere it may look.
    std::optional<std::string> picturePath(const std::string& relativePath) const;
    using PictureLoad = std::function<std::shared_ptr<UIImage>(const std::string&, NSErrorPtr*)>;
    // Why the file found is refused goes to `refusal` when it is given.
    std::shared_ptr<UIImage> loadFound(const std::string& relativePath, const PictureLoad& load,
                                       NSErrorPtr* refusal = nullptr) const;
    void logUnshowable(const std::string& path, const NSErrorPtr& error) const;
    std::string storePath() const;
    [[nodiscard]] bool loadStore();
    void writeStore() const;

    std::shared_ptr<FileSystem> fileSystem_;
    std::shared_ptr<FullSizePictureHolder> fullSizePictures_;
    std::optional<Value::Dictionary> newImages_;
    // The file is there but could not be read: it is never written over.
    bool storeUnreadable_ = false;
    // The file was looked for and is not there (nor written since: a write keeps the marks in memory).
    bool storeAbsent_ = false;
    // Relative path -> the file it was last read from, for the pictures generation it was found in.
    mutable Mutex knownMutex_;
    mutable std::map<std::string, std::string> knownPaths_ GUARDED_BY(knownMutex_);
    mutable std::uint64_t knownGeneration_ GUARDED_BY(knownMutex_) = 0;
    // Files logged as no picture that can be shown -> their size and modification date then.
    mutable std::map<std::string, Value> unshowable_ GUARDED_BY(knownMutex_);
    mutable Mutex refusedMutex_;
    mutable std::set<std::string> refusedServedCopies_ GUARDED_BY(refusedMutex_);
};
