// The gallery tests' sandbox over a generated demo bundle.
#include "tests/gallery/GalleryFixture.h"

#include "content/dbEntry.h"
#include "config/AppConfig.h"
#include "config/OEConfigFactory.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIImage.h"
#include "tests/fixtures/DemoBundle.h"
#include "uikit/ActivityView.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {

// The shared activity overlay listens for orientation changes from its making on, for the life
// of the process: made before the first test, as the application makes it before any screen.
class SharedOverlay : public testing::Environment {
public:
    void SetUp() override { (void)ActivityView::sharedActivityView(); }
};
const auto* const sharedOverlay = testing::AddGlobalTestEnvironment(new SharedOverlay);

}  // namespace

const std::string& GalleryFixture::bundle() { return DemoBundle::path(); }

const std::string& GalleryFixture::serverFolder() { return DemoBundle::serverFolder(); }

std::unique_ptr<ContentServer> GalleryFixture::startContentServer() {
    std::string error;
    auto server = ContentServer::start({serverFolder(), "", 0, {}}, &error);
    if (!server) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    context_.app.config->urlFormat()->setImages(server->host() + "/pic/gallery/%@");
    return server;
}

void GalleryFixture::SetUp() {
    for (const auto& folder : {Sandbox::documents(), Sandbox::caches()}) {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(folder, ignored)) fs::remove_all(entry.path(), ignored);
    }
    mainBundle_.emplace(bundle());
    UIImage::clearNamedCache();
    ASSERT_TRUE(
        NSUserDefaults::standardUserDefaults()->setObject(Value(Value::Array{Value("en")}), "AppleLanguages"));
    configureGroupings({{"subCat", "By Janre"}, {"subCat2", "By Name"}});
}

std::string GalleryFixture::useBundleCopy() {
    const std::string copy = Sandbox::home() + "/bundle";
    std::string error;
    if (!DemoBundle::copyTo(copy, true, &error)) ADD_FAILURE() << error;
    mainBundle_.reset();
    mainBundle_.emplace(copy);
    UIImage::clearNamedCache();
    return copy;
}

void GalleryFixture::TearDown() {
    NSUserDefaults::standardUserDefaults()->removeObjectForKey("AppleLanguages");
    mainBundle_.reset();
    UIImage::clearNamedCache();
}

void GalleryFixture::configureGroupings(const std::vector<std::pair<std::string, std::string>>& groupings) {
    auto factory = OEConfigFactory::defaultFactory();
    auto config = factory->makeConfig();
    std::vector<std::shared_ptr<OEImageCategory>> categories;
    for (const auto& [identifier, titleKey] : groupings) {
        categories.push_back(
            OEImageCategory::gategoryWithIdentifer(identifier, NSLocalizedStringFromTable(titleKey, "Core")));
    }
    config->setImages(factory->makeImageConfigWith(categories));
    context_.app = OEContext::withConfig(config);
    // The reading settings' defaults, as the engine hands its configuration's in at start-up.
    AppConfig::sharedAppConfig()->setTextsConfig(config->text());
    context_.resources = ResourceLoader::make(context_.app.fileSystem);
}

std::shared_ptr<Loader> GalleryFixture::imagesLoader() {
    return Loader::loaderWithDBEntry(dbEntry::defaultEntry(context_.app.config->database()), context_.app);
}

std::shared_ptr<List_DataSource> GalleryFixture::catalogue() { return List_DataSource::initWithLoader(imagesLoader()); }

void GalleryFixture::writePNG(const std::string& path, int width, int height) {
    fs::create_directories(fs::path(path).parent_path());
    auto image = UIImage::imageWithPixels(std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 4), 200),
                                          width, height, 1);
    const NSData bytes = UIImagePNGRepresentation(image);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

void GalleryFixture::writeText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

bool GalleryFixture::exists(const std::string& path) { return fs::exists(path); }

std::string GalleryFixture::bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const DemoPainting& GalleryFixture::paintingWithExtension(const std::string& extension) {
    for (const auto& painting : DemoCatalogue::paintings()) {
        const std::string path = DemoCatalogue::imagePathOf(painting);
        if (path.size() > extension.size() && path.compare(path.size() - extension.size(), extension.size(), extension) == 0)
            return painting;
    }
    ADD_FAILURE() << "no demo painting with " << extension;
    return DemoCatalogue::paintings().front();
}

std::vector<std::string> GalleryFixture::distinctPicturePaths() {
    std::set<std::string> paths;
    for (const auto& painting : DemoCatalogue::paintings()) paths.insert(DemoCatalogue::imagePathOf(painting));
    return {paths.begin(), paths.end()};
}

int GalleryFixture::demoPaintingTitled(const char* english) {
    for (const auto& painting : DemoCatalogue::paintings())
        if (painting.title.en && std::strcmp(painting.title.en, english) == 0) return painting.index;
    ADD_FAILURE() << "no demo painting " << english;
    return 0;
}

void GalleryFixture::settle() {
    for (int i = 0; i < 4; ++i) {
        Clock::advance(0);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
}

void GalleryFixture::pass(double seconds) {
    Clock::advance(seconds);
    settle();
}
