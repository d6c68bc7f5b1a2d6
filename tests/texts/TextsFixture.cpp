// The texts tests' sandbox.
#include "tests/texts/TextsFixture.h"

#include "content/SQLiteEngine.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"

#include <filesystem>

void TextsFixture::SetUp() {
    GalleryFixture::SetUp();
    Clock::setManual(1000);
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
}

void TextsFixture::TearDown() {
    window.reset();
    // Transitions still running hold their screens until their time is up.
    pass(5);
    shown.clear();
    server_.reset();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    UIApplication::sharedApplication()->reset();
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
    for (const char* key : {"FONT_SIZE_TEXTS_KEY", "text_align", "fontName", "sortMode"})
        NSUserDefaults::standardUserDefaults()->removeObjectForKey(key);
    Clock::setReal();
    GalleryFixture::TearDown();
}

std::shared_ptr<TextServer> TextsFixture::server() {
    if (!server_) server_ = TextServer::initWithContext(galleryContext().app);
    return server_;
}

std::shared_ptr<TextServer> TextsFixture::restartServer() {
    (void)NSUserDefaults::standardUserDefaults()->synchronize();
    NSUserDefaults::resetStandardUserDefaults();
    (void)NSUserDefaults::standardUserDefaults()->setObject(Value(Value::Array{Value("en")}), "AppleLanguages");
    server_ = TextServer::initWithContext(galleryContext().app);
    return server_;
}

TextsContext TextsFixture::textsContext() {
    return TextsContext{galleryContext(), server(),
                        [this](const std::shared_ptr<UIViewController>& controller, bool fullscreen) {
                            shown.emplace_back(controller, fullscreen);
                        }};
}

void TextsFixture::show(const std::shared_ptr<UIViewController>& root, CGSize size) {
    window = UIWindow::initWithFrame({{0, 0}, size});
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    settle();
}

std::string TextsFixture::documentsPath(const std::string& file) { return Sandbox::documents() + "/" + file; }

void TextsFixture::writeTextsDatabase(const std::string& path, const std::vector<std::pair<int, std::string>>& categories,
                                      const std::vector<SubCat>& subCats, const std::vector<Text>& texts,
                                      const std::vector<int>& favorites, bool favoritesTable) {
    std::filesystem::remove(path);
    auto db = SQLiteEngine::initWithPath(path, true);
    ASSERT_TRUE(db);
    const std::vector<std::string> schema = {
        "CREATE TABLE \"bigCat\" (\"index\" INTEGER PRIMARY KEY, \"name\" TEXT)",
        "CREATE TABLE \"subCat\" (\"index\" INTEGER PRIMARY KEY, \"name\" TEXT, \"bigCat\" INTEGER, \"sort\" INTEGER, "
        "\"description\" TEXT)",
        "CREATE TABLE \"texts\" (\"index\" INTEGER PRIMARY KEY, \"cat\" INTEGER, \"wc\" INTEGER, \"text\" TEXT, "
        "\"short\" TEXT, \"date\" TEXT, \"plain\" TEXT)"};
    ASSERT_TRUE(db->runInTransaction(schema));
    for (const auto& [index, name] : categories)
        ASSERT_TRUE(db->execRequest("insert into bigCat values (?, ?)", {Value(index), Value(name)}));
    for (const auto& sub : subCats)
        ASSERT_TRUE(db->execRequest("insert into subCat values (?, ?, ?, ?, ?)",
                                    {Value(sub.index), Value(sub.name), Value(sub.category), Value(sub.sort),
                                     Value("About " + sub.name)}));
    for (const auto& text : texts)
        ASSERT_TRUE(db->execRequest("insert into texts values (?, ?, 2, ?, ?, ?, ?)",
                                    {Value(text.index), Value(text.subCat), Value(text.html), Value(text.title),
                                     Value(text.date), Value("Plain " + text.title)}));
    if (favoritesTable || !favorites.empty()) {
        ASSERT_TRUE(db->execRequest("create table favorites (idx integer primary key)"));
    }
    for (int index : favorites) ASSERT_TRUE(db->execRequest("insert into favorites values (?)", {Value(index)}));
    db->endRequest();
}

std::vector<int> TextsFixture::favoritesIn(const std::string& path) {
    std::vector<int> out;
    auto db = SQLiteEngine::initWithPath(path);
    if (!db || !db->tableExists("favorites")) return out;
    for (const auto& row : db->rowsForRequest("select idx from favorites order by idx"))
        out.push_back(static_cast<int>(row.get("idx").integerValue()));
    return out;
}
