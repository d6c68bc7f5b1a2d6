// The sandbox of the music tests.
#include "tests/media/MediaFixture.h"

#include "config/OEConfigFactory.h"
#include "content/SQLiteEngine.h"
#include "demo/generator/DemoAudio.h"
#include "demo/generator/DemoGenerator.h"
#include "demo/generator/DemoPictures.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/media/AVAudioSession.h"
#include "tests/fixtures/DemoBundle.h"
#include "uikit/OEIdleTimerManager.h"

#include <atomic>
#include <filesystem>

namespace fs = std::filesystem;

const std::vector<std::string> MediaFixture::kMediaCatalogue = {
    "create table author (\"index\" integer primary key, \"name\" text, \"name_en\" text, \"name_de\" text, "
    "\"name_it\" text, \"name_fr\" text, \"description\" text, \"imagePath\" text)",
    "insert into author values (1, 'Бах', 'Bach', 'Bach (de)', '', '', 'bio', 'Data/bach.jpg'), "
    "(2, 'Моцарт', 'Mozart', '', '', '', '', 'Data/missing.jpg'), (3, 'Никто', 'Nobody', '', '', '', '', '')",
    "create table genres (\"index\" integer primary key, \"name\" text, \"name_en\" text, \"imagePath\" text)",
    "insert into genres values (1, 'Барокко', 'Baroque', ''), (2, 'Классицизм', 'Classical', '')",
    "create table countries (\"index\" integer primary key, \"name\" text, \"name_en\" text, \"imagePath\" text)",
    "insert into countries values (1, 'Германия', 'Germany', '')",
    "create table compositions (\"index\" integer primary key, \"name\" text, \"name_en\" text, \"author\" integer, "
    "\"genres\" integer, \"countries\" integer, \"filepath\" text, \"time\" text)",
    "insert into compositions values (1, 'Ария', 'Air', 1, 1, 1, 'bach/air.m4a', '0:03'), "
    "(2, 'Токката', 'Toccata', 1, 1, 1, 'bach/toccata.m4a', '0:03'), "
    "(3, 'Менуэт', 'Minuet', 1, 1, 1, 'bach/minuet.m4a', ''), "
    "(4, 'Менуэт', 'Minuet', 2, 2, 1, 'mozart/minuet.m4a', '0:03'), "
    "(5, 'Рондо', 'Rondo', 2, 2, 1, 'mozart/rondo alla turca.m4a', '0:03'), "
    "(6, 'Реквием', 'Requiem', 2, NULL, 1, 'mozart/requiem.m4a', '0:03'), "
    "(7, 'Серенада', 'Serenade', 2, 2, 1, 'mozart/serenade.m4a', '0:03'), "
    "(8, 'Сарабанда', 'Sarabande', 1, 1, 1, 'bach/sarabande.m4a', '0:03')",
    "create table images (\"index\" integer primary key, \"author\" integer, \"imagePath\" text, \"name\" text, "
    "\"name_en\" text)",
    "insert into images values (1, 1, 'bach1.jpg', 'Портрет', 'Portrait'), (2, 1, 'bach2.jpg', 'Орган', 'Organ'), "
    "(3, 2, 'mozart1.jpg', 'Зальцбург', 'Salzburg')",
};

// The compositions of the server's folder. Encoding them is most of a music test's time, so
// they are encoded once per test run (each test is a process of its own under ctest).
const std::string& MediaFixture::serverFolder() {
    static const std::string folder = [] {
        std::string error;
        std::string root = DemoBundle::sharedFolder(
            "music-server",
            [](const std::string& folder, std::string* error) {
                const std::string media = folder + "/data/ostrelmedia/m4a/";
                std::uint32_t seed = 1;
                for (const char* file :
                     {"bach/air.m4a", "bach/toccata.m4a", "bach/minuet.m4a", "mozart/minuet.m4a",
                      "mozart/rondo alla turca.m4a", "mozart/requiem.m4a", "mozart/serenade.m4a", "bach/sarabande.m4a"})
                    if (!DemoAudio::writeM4A(media + file, {3.0, seed++, 44100, 2, 0}, error)) return false;
                return true;
            },
            &error);
        if (root.empty()) ADD_FAILURE() << error;
        return root;
    }();
    return folder;
}

std::string MediaFixture::documents() { return Sandbox::documents(); }

void MediaFixture::SetUp() {
    static std::atomic<int> counter{0};
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(documents(), ignored)) fs::remove_all(entry.path(), ignored);
    bundle_ = Sandbox::tmp() + "/music-bundle-" + std::to_string(counter++);
    fs::create_directories(bundle_ + "/bach");
    fs::copy_file(DemoGenerator::defaultSourceBundle() + "/Info.plist", bundle_ + "/Info.plist");
    const std::string media = serverFolder() + "/data/ostrelmedia/m4a/";
    fs::copy_file(media + "bach/air.m4a", bundle_ + "/bach/air.m4a");
    // The packaged note and Bach's picture; Mozart's is missing.
    const auto picture = DemoPictures::compose(3, 40, 30);
    std::string written;
    ASSERT_TRUE(DemoPictures::writeFile(bundle_ + "/note.png", DemoPictures::encodePNG(picture), &written)) << written;
    ASSERT_TRUE(DemoPictures::writeFile(bundle_ + "/Data/bach.jpg", DemoPictures::encodeJPEG(picture), &written)) << written;
    fs::create_directories(documents() + "/bach");
    fs::copy_file(media + "bach/toccata.m4a", documents() + "/bach/toccata.m4a");

    auto db = SQLiteEngine::initWithPath(bundle_ + "/media.sqlite", true);
    ASSERT_TRUE(db);
    for (const auto& sql : kMediaCatalogue) ASSERT_TRUE(db->execRequest(sql)) << sql << ": " << db->lastErrorMessage();
    db->endRequest();
    db.reset();

    ContentServer::Options options;
    options.folder = serverFolder();
    std::string error;
    server_ = ContentServer::start(options, &error);
    ASSERT_TRUE(server_) << error;
    ASSERT_TRUE(DemoGenerator::setServerHost(bundle_, server_->host(), &error)) << error;
    mainBundle_.emplace(bundle_);
    setLanguage("en");
    reloadConfiguration();
}

void MediaFixture::TearDown() {
    NSRunLoop::mainRunLoop()->runUntilIdle();
    if (server_) server_->releaseStalls();
    server_.reset();
    NSUserDefaults::standardUserDefaults()->removeObjectForKey("AppleLanguages");
    mainBundle_.reset();
    AVAudioSession::sharedInstance()->reset();
    Clock::setReal();
}

void MediaFixture::setLanguage(const std::string& language) {
    ASSERT_TRUE(
        NSUserDefaults::standardUserDefaults()->setObject(Value(Value::Array{Value(language)}), "AppleLanguages"));
}

void MediaFixture::reloadConfiguration() {
    NSBundle::resetCaches();
    auto context = std::make_shared<MediaContext>();
    context->app = OEContext::withConfig(OEConfigFactory::defaultFactory()->makeConfig());
    context->idle = OEIdleTimerManager::make();
    auto reachable = reachable_;
    context->reachable = [reachable] { return *reachable; };
    context_ = context;
}

std::shared_ptr<SQLiteEngine> MediaFixture::openMedia() {
    return SQLiteEngine::init(context_->app.config->database()->mediaDBName(), context_->files());
}

bool MediaFixture::pump(const std::function<bool()>& until, double seconds) {
    return NSRunLoop::mainRunLoop()->runUntil(until, seconds);
}

void MediaFixture::advance(double seconds) {
    Clock::advance(seconds);
    NSRunLoop::mainRunLoop()->runUntilIdle();
}
