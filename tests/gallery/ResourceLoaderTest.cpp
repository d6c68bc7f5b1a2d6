// Picture loading and caching over the demo bundle's real JPEGs: suffixes, the lookup order of
// the storage areas, presence and deletion, the viewed-pictures store and its file.
#include "gallery/ResourceLoader.h"

#include "content/ListOtherSubCat_DataSource.h"
#include "config/FileSystem.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIImage.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/PictureHeaders.h"
#include "tests/gallery/GalleryFixture.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string_view>

namespace fs = std::filesystem;

namespace {

class ResourceLoaderTest : public GalleryFixture {
protected:
    void SetUp() override {
        GalleryFixture::SetUp();
        loader_ = ResourceLoader::make(galleryContext().app.fileSystem);
    }
    std::string storeFile() const { return Sandbox::documents() + "/viewed_images"; }
    // Past any injected faults.
    std::string storeText() const {
        std::ifstream in(storeFile(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::shared_ptr<ResourceLoader> loader_;
};

}  // namespace

TEST_F(ResourceLoaderTest, SuffixesGoBeforeTheFirstDotAndOnlyLandscapeGetsOne) {
    EXPECT_EQ(ResourceLoader::appendToPath("bg.png", "_land"), "bg_land.png");
    EXPECT_EQ(ResourceLoader::appendToPath("a.b.png", "_land"), "a_land.b.png");
    EXPECT_EQ(ResourceLoader::appendToPath("photo", "_land"), "photo_land");
    using Orientation = UIInterfaceOrientation;
    EXPECT_EQ(ResourceLoader::orientationPath("photo.jpg", Orientation::LandscapeRight), "photo_land.jpg");
    EXPECT_EQ(ResourceLoader::orientationPath("photo.jpg", Orientation::LandscapeLeft), "photo_land.jpg");
    EXPECT_EQ(ResourceLoader::orientationPath("photo.jpg", Orientation::Portrait), "photo.jpg");
    EXPECT_EQ(ResourceLoader::orientationPath("photo.jpg", Orientation::PortraitUpsideDown), "photo.jpg");
    EXPECT_EQ(ResourceLoader::orientationPath("photo.jpg", Orientation::Unknown), "photo.jpg");
    EXPECT_EQ(ResourceLoader::deviceSpecificPath("photo.jpg"), "photo.jpg");
    EXPECT_FALSE(loader_->useLowImages());
}

TEST_F(ResourceLoaderTest, BundlePicturesFollowTheInterfaceOrientation) {
    const std::string extra = Sandbox::tmp() + "/orientation-bundle";
    fs::create_directories(extra);
    fs::copy_file(bundle() + "/Info.plist", extra + "/Info.plist", fs::copy_options::overwrite_existing);
    writePNG(extra + "/bg.png", 4, 3);
    writePNG(extra + "/bg_land.png", 6, 3);
    NSBundle::setMainBundlePath(extra);
    UIImage::clearNamedCache();

    using Orientation = UIInterfaceOrientation;
    ASSERT_TRUE(loader_->loadImage("bg.png", Orientation::Portrait));
    EXPECT_EQ(loader_->loadImage("bg.png", Orientation::Portrait)->pixelWidth(), 4);
    EXPECT_EQ(loader_->loadImage("bg.png", Orientation::LandscapeLeft)->pixelWidth(), 6);
    EXPECT_EQ(loader_->loadOrientationImage("bg.png", Orientation::LandscapeRight)->pixelWidth(), 6);
    UIApplication::sharedApplication()->setStatusBarOrientation(Orientation::LandscapeLeft);
    EXPECT_EQ(loader_->currentOrientation(), Orientation::LandscapeLeft);
    EXPECT_EQ(loader_->loadImage("bg.png")->pixelWidth(), 6);
    UIApplication::sharedApplication()->setStatusBarOrientation(Orientation::Portrait);
    EXPECT_FALSE(loader_->loadImage("missing.png", Orientation::Portrait));
    NSBundle::setMainBundlePath(bundle());
}

// Where a picture was found is read again directly; the places are looked through again once
// pictures are announced changed, or when the remembered file is gone.
TEST_F(ResourceLoaderTest, AFoundPictureIsReadFromTheSameFileUntilThatChanges) {
    const std::string relative = "Data/remembered_thumb.png";
    fs::create_directories(Sandbox::caches() + "/Data");
    fs::create_directories(Sandbox::documents() + "/Data");
    writePNG(Sandbox::caches() + "/" + relative, 8, 8);
    ASSERT_TRUE(loader_->loadImageFrom(relative, 100));
    EXPECT_EQ(loader_->loadImageFrom(relative, 100)->pixelWidth(), 8);

    // Documents comes first once the change is announced, by this loader or any other.
    writePNG(Sandbox::documents() + "/" + relative, 16, 16);
    ResourceLoader::make(galleryContext().app.fileSystem)->postDataChanged();
    ASSERT_TRUE(loader_->loadImageFrom(relative));
    EXPECT_EQ(loader_->loadImageFrom(relative)->pixelWidth(), 16);

    // Removed behind the loader's back: found where it still is, then nowhere.
    fs::remove(Sandbox::documents() + "/" + relative);
    ASSERT_TRUE(loader_->loadImageFrom(relative, 100));
    EXPECT_EQ(loader_->loadImageFrom(relative, 100)->pixelWidth(), 8);
    loader_->deleteFileFromCashes(relative);
    EXPECT_FALSE(loader_->loadImageFrom(relative, 100));
    EXPECT_FALSE(loader_->loadImageFrom("../outside.png", 100));
}

TEST_F(ResourceLoaderTest, PictureFilesAreDecodedFromWhereverTheyLie) {
    const auto& painting = paintingWithExtension(".jpg");
    const auto picture = loader_->loadImageFrom("Data/" + DemoCatalogue::imagePathOf(painting));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->pixelWidth(), kDemoPictureWidth);
    EXPECT_EQ(picture->pixelHeight(), kDemoPictureHeight);
    const auto thumbnail = loader_->loadImageFrom("Data/" + DemoCatalogue::thumbnailPathOf(painting));
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->pixelWidth(), kDemoThumbnailWidth);
    const auto& group = DemoCatalogue::genreGroups().front();
    const auto groupPicture = loader_->loadImageFrom(std::string("Data/cats/") + group.filePath + ".jpg");
    ASSERT_TRUE(groupPicture);
    EXPECT_EQ(groupPicture->pixelHeight(), kDemoGroupPictureHeight);

    // Only in Caches, only in Documents: found all the same.
    writePNG(Sandbox::caches() + "/Data/cached_only.png", 5, 5);
    writePNG(Sandbox::documents() + "/Data/downloaded.png", 7, 7);
    EXPECT_EQ(loader_->loadImageFrom("Data/cached_only.png")->pixelWidth(), 5);
    EXPECT_EQ(loader_->loadImageFrom("Data/downloaded.png")->pixelWidth(), 7);
    EXPECT_TRUE(loader_->fileExistsInCaches("Data/cached_only.png"));

    EXPECT_FALSE(loader_->loadImageFrom("Data/nothing.jpg"));
    writeText(Sandbox::documents() + "/Data/broken.jpg", "not a picture");
    EXPECT_FALSE(loader_->loadImageFrom("Data/broken.jpg"));
}

// A file behind a picture's name that is no picture that can be shown (another kind, an empty
// one, a header claiming more than its bytes hold) is logged once by its name, however often it
// is asked for, whole or reduced; again once another file takes its place. A missing file is not.
TEST_F(ResourceLoaderTest, AFileThatIsNoPictureThatCanBeShownIsLoggedOnceByItsName) {
    const std::string folder = Sandbox::documents() + "/Data";
    fs::create_directories(folder);
    writePNG(Sandbox::tmp() + "/small.png", 8, 8);
    const std::string small = bytesOf(Sandbox::tmp() + "/small.png");
    const auto bytes = [](std::string_view text) { return NSData(text.begin(), text.end()); };
    const struct {
        const char* name;
        NSData bytes;
        const char* why;
    } files[] = {
        {"gif.jpg", bytes(std::string("GIF89a\x01\0\x01\0\x80\0\0;", 14)), "It holds a GIF picture."},
        {"bmp.jpg", bytes(std::string("BM\x3a\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0", 18)), "It holds a BMP picture."},
        {"webp.jpg", bytes(std::string("RIFF\x1a\0\0\0WEBPVP8L\x0d\0\0\0", 20)), "It holds a WebP picture."},
        {"empty.png", {}, "It is empty."},
        {"claim.png", claimingPixelSize(bytes(small), 6928, 6928), "pixels, more than its"},
    };
    for (const auto& f : files) {
        std::ofstream(folder + "/" + f.name, std::ios::binary)
            .write(reinterpret_cast<const char*>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
    }
    const auto linesWith = [](const std::string& log, const std::string& text) {
        std::size_t count = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
        return count;
    };
    testing::internal::CaptureStderr();
    for (int round = 0; round < 3; ++round) {
        for (const auto& f : files) {
            EXPECT_FALSE(loader_->loadImageFrom(std::string("Data/") + f.name)) << f.name;
            EXPECT_FALSE(loader_->loadImageFrom(std::string("Data/") + f.name, 60)) << f.name;
        }
        EXPECT_FALSE(loader_->loadImageFrom("Data/missing.jpg"));
    }
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(linesWith(log, "is not a picture that can be shown"), std::size(files)) << log;
    for (const auto& f : files) {
        const std::string line = "The file " + folder + "/" + f.name + " is not a picture that can be shown. ";
        EXPECT_EQ(linesWith(log, line), 1u) << log;
        EXPECT_NE(log.find(line + (f.why[0] == 'I' ? f.why : "It claims 6928 x 6928 " + std::string(f.why))),
                  std::string::npos)
            << log;
    }

    writeText(folder + "/gif.jpg", "GIF87a, and more of it");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(loader_->loadImageFrom("Data/gif.jpg"));
    EXPECT_FALSE(loader_->loadImageFrom("Data/gif.jpg"));
    log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(linesWith(log, "The file " + folder + "/gif.jpg is not a picture that can be shown. It holds a GIF picture."),
              1u)
        << log;
}

TEST_F(ResourceLoaderTest, PathsFromDataCannotReachOutsideTheStorageAreas) {
    writePNG(Sandbox::home() + "/outside.png");
    ASSERT_TRUE(exists(Sandbox::documents() + "/../outside.png"));
    EXPECT_FALSE(loader_->loadImageFrom("../outside.png"));
    EXPECT_FALSE(loader_->fileExistsInCaches("Data/../../outside.png"));
    loader_->deleteFileFromCashes("../outside.png");
    EXPECT_TRUE(exists(Sandbox::home() + "/outside.png"));
    EXPECT_FALSE(loader_->loadImageFrom(Sandbox::home() + "/outside.png"));
}

TEST_F(ResourceLoaderTest, AllPicturesArePresentOnlyWhenEveryOneIsFound) {
    EXPECT_TRUE(loader_->allImagesExists({}));
    std::vector<std::string> bundled, onServer;
    for (const auto& painting : DemoCatalogue::paintings())
        (DemoCatalogue::isOnServerOnly(painting) ? onServer : bundled).push_back(DemoCatalogue::imagePathOf(painting));
    EXPECT_TRUE(loader_->allImagesExists(bundled));
    auto withMissing = bundled;
    withMissing.push_back(onServer.front());
    EXPECT_FALSE(loader_->allImagesExists(withMissing));
}

TEST_F(ResourceLoaderTest, DeletingTakesTheDocumentsCopyFirstAndOnlyOneFile) {
    writeText(Sandbox::documents() + "/Data/twice.jpg", "d");
    writeText(Sandbox::caches() + "/Data/twice.jpg", "c");
    const auto& files = galleryContext().app.fileSystem;
    EXPECT_EQ(files->rememberedFilePathInWritableLocation("Data/twice.jpg"), Sandbox::documents() + "/Data/twice.jpg");
    loader_->deleteFileFromCashes("Data/twice.jpg");
    EXPECT_FALSE(exists(Sandbox::documents() + "/Data/twice.jpg"));
    EXPECT_TRUE(exists(Sandbox::caches() + "/Data/twice.jpg"));
    EXPECT_EQ(files->rememberedFilePathInWritableLocation("Data/twice.jpg"), Sandbox::caches() + "/Data/twice.jpg");
    loader_->deleteFileFromCashes("Data/twice.jpg");
    EXPECT_FALSE(exists(Sandbox::caches() + "/Data/twice.jpg"));
    EXPECT_FALSE(files->rememberedFilePathInWritableLocation("Data/twice.jpg").has_value());
    loader_->deleteFileFromCashes("Data/twice.jpg");
}

TEST_F(ResourceLoaderTest, TheFirstRunMarksTheWholeCatalogueViewedInOneFile) {
    EXPECT_TRUE(loader_->isNewImage("p0001.jpg"));
    EXPECT_FALSE(loader_->isStoreLoaded());
    {
        // Known absent: a screen asking about every cell does not look for the file again.
        FaultInjection injection;
        injection->inject(FaultyFileIO::Operation::Open, storeFile(), EACCES);
        EXPECT_TRUE(loader_->isNewImage("p0002.jpg"));
        EXPECT_EQ(injection->injected(), 0);
        EXPECT_FALSE(loader_->isStoreLoaded());
    }

    loader_->resetNewImages(catalogue());
    ASSERT_TRUE(exists(storeFile()));
    const Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(storeFile());
    ASSERT_TRUE(plist.isDictionary());
    const auto paths = distinctPicturePaths();
    EXPECT_EQ(plist.dictionary().size(), paths.size());
    for (const auto& path : paths) {
        EXPECT_TRUE(plist.dictionary().get(path).boolValue()) << path;
        EXPECT_FALSE(loader_->isNewImage(path)) << path;
    }
    EXPECT_TRUE(NSFileManager::defaultManager()->isExcludedFromBackup(storeFile()));

    // A picture that reaches the catalogue later is new until it is shown.
    EXPECT_TRUE(loader_->isNewImage("p0999.jpg"));
    loader_->resetNewImage("p0999.jpg");
    EXPECT_FALSE(loader_->isNewImage("p0999.jpg"));

    // Another process reads the same file and seeds nothing more.
    auto later = ResourceLoader::make(galleryContext().app.fileSystem);
    later->resetNewImages(ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "subCat2"));
    EXPECT_FALSE(later->isNewImage("p0999.jpg"));
    EXPECT_TRUE(later->isNewImage("p1000.jpg"));
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithContentsOfFile(storeFile()).dictionary().size(),
              paths.size() + 1);
}

TEST_F(ResourceLoaderTest, MarksWithoutStoringStayInMemoryAndEmptyPathsAreIgnored) {
    loader_->resetNewImage("a.jpg", false);
    EXPECT_TRUE(loader_->isStoreLoaded());
    EXPECT_FALSE(loader_->isNewImage("a.jpg"));
    EXPECT_FALSE(exists(storeFile()));

    loader_->resetNewImage("");
    EXPECT_FALSE(exists(storeFile()));
    loader_->resetNewImage("b.jpg");
    const Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(storeFile());
    EXPECT_EQ(plist.dictionary().size(), 2u);
    loader_->resetNewImage("");
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithContentsOfFile(storeFile()).dictionary().size(), 2u);

    // The store is already in memory: seeding changes nothing.
    loader_->resetNewImages(catalogue());
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithContentsOfFile(storeFile()).dictionary().size(), 2u);
}

TEST_F(ResourceLoaderTest, AFailedWriteIsLoggedKeepsTheOldFileAndTheNextWriteSavesEveryMark) {
    using testing::HasSubstr;
    loader_->resetNewImage("first.jpg");
    ASSERT_TRUE(exists(storeFile()));
    const std::string inDocuments = Sandbox::documents() + "/*";
    const struct {
        const char* fault;
        std::function<void(FaultInjection&)> inject;
        const char* says;
    } cases[] = {
        {"no space", [&](FaultInjection& io) { io->noSpace(inDocuments); },
         "The file \u201cviewed_images\u201d couldn\u2019t be saved because there is no space left on the volume."},
        {"failed rename", [&](FaultInjection& io) { io->failRename(storeFile()); }, "Input/output error"},
        {"read-only folder", [&](FaultInjection& io) { io->readOnly(inDocuments); }, "the volume is read only"},
    };
    std::vector<std::string> marked = {"first.jpg"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string picture = std::string(c.fault) + ".jpg";
        {
            FaultInjection injection;
            c.inject(injection);
            testing::internal::CaptureStderr();
            loader_->resetNewImage(picture);
            const std::string log = testing::internal::GetCapturedStderr();
            EXPECT_GT(injection->injected(), 0);
            EXPECT_THAT(log, HasSubstr("The viewed pictures could not be written; they are kept in memory until the "
                                       "next write. "));
            EXPECT_THAT(log, HasSubstr(c.says));
        }
        marked.push_back(picture);
        for (const auto& path : marked) EXPECT_FALSE(loader_->isNewImage(path)) << path;
        // The file is the one before the failure, whole, with no temporary beside it.
        NSErrorPtr error;
        const Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(storeFile(), &error);
        EXPECT_EQ(error, nullptr);
        EXPECT_EQ(plist.dictionary().size(), 1u);
        EXPECT_TRUE(plist.dictionary().get("first.jpg").boolValue());
        for (const auto& entry : fs::directory_iterator(Sandbox::documents())) {
            EXPECT_EQ(entry.path().filename().string().rfind(".viewed_images", 0), std::string::npos) << entry.path();
        }
    }

    loader_->resetNewImage("last.jpg");
    marked.push_back("last.jpg");
    auto later = ResourceLoader::make(galleryContext().app.fileSystem);
    for (const auto& path : marked) EXPECT_FALSE(later->isNewImage(path)) << path;
    EXPECT_TRUE(later->isNewImage("never.jpg"));
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithContentsOfFile(storeFile()).dictionary().size(), marked.size());
}

TEST_F(ResourceLoaderTest, AStoreThatCannotBeReadIsNeverWrittenOverButOneThatIsNotAListIs) {
    using testing::HasSubstr;
    loader_->resetNewImage("kept.jpg");
    const std::string before = storeText();
    const struct {
        const char* fault;
        FaultyFileIO::Operation operation;
        int err;
        const char* says;
    } cases[] = {
        {"failing disk", FaultyFileIO::Operation::Read, EIO, "couldn\u2019t be read: Input/output error."},
        {"no permission", FaultyFileIO::Operation::Open, EACCES, "you don\u2019t have permission to view it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        FaultInjection injection;
        injection->inject(c.operation, storeFile(), c.err);
        auto later = ResourceLoader::make(galleryContext().app.fileSystem);
        testing::internal::CaptureStderr();
        later->resetNewImages(catalogue());
        later->resetNewImage("seen.jpg");
        EXPECT_FALSE(later->isNewImage("seen.jpg"));
        EXPECT_TRUE(later->isNewImage("kept.jpg"));
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_GT(injection->injected(), 0);
        const std::string says = "The viewed pictures could not be read; new marks are kept in memory only";
        EXPECT_THAT(log, HasSubstr(says));
        EXPECT_EQ(log.find(says), log.rfind(says)) << "logged once";
        EXPECT_THAT(log, HasSubstr(c.says));
        EXPECT_EQ(storeText(), before);
    }
    auto recovered = ResourceLoader::make(galleryContext().app.fileSystem);
    EXPECT_FALSE(recovered->isNewImage("kept.jpg"));
    EXPECT_TRUE(recovered->isNewImage("seen.jpg"));

    // Read whole but damaged: nothing in it can be kept, so the next mark replaces it.
    writeText(storeFile(), "<plist><dict><key>kept.jpg</key>");
    auto afterDamage = ResourceLoader::make(galleryContext().app.fileSystem);
    EXPECT_TRUE(afterDamage->isNewImage("kept.jpg"));
    afterDamage->resetNewImage("seen.jpg");
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithContentsOfFile(storeFile()).dictionary().keys(),
              std::vector<std::string>{"seen.jpg"});
}

TEST_F(ResourceLoaderTest, RemovingDownloadsDeletesTheDataFolderKeepsTheStoreAndAlwaysPosts) {
    int posted = 0;
    auto observer = NSNotificationCenter::defaultCenter()->addObserverForName(
        kImagesDataChanged, nullptr, nullptr, [&](const NSNotification&) { ++posted; });
    loader_->removeLoadedData();
    EXPECT_EQ(posted, 1);

    writeText(Sandbox::documents() + "/Data/p1.jpg", "x");
    writeText(Sandbox::documents() + "/Data/sub/hd-p2.jpg", "y");
    const auto& files = galleryContext().app.fileSystem;
    EXPECT_TRUE(files->rememberedFilePathInWritableLocation("Data/sub/hd-p2.jpg").has_value());
    loader_->resetNewImage("p1.jpg");
    loader_->removeLoadedData();
    EXPECT_EQ(posted, 2);
    EXPECT_FALSE(exists(Sandbox::documents() + "/Data"));
    EXPECT_FALSE(files->rememberedFilePathInWritableLocation("Data/sub/hd-p2.jpg").has_value());
    EXPECT_TRUE(exists(storeFile()));
    EXPECT_FALSE(loader_->isNewImage("p1.jpg"));
    loader_->postDataChanged();
    EXPECT_EQ(posted, 3);
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
}
