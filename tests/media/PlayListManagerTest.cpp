// Playlists as property-list files: a round trip, what a file may hold that the application did
// not write, files that cannot be read, and deletion.
#include "content/SQLiteEngine.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerItem.h"
#include "media/PlayListManager.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "tests/media/MediaFixture.h"

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {

class PlayListManagerTest : public MediaFixture {
protected:
    void SetUp() override {
        MediaFixture::SetUp();
        source_ = DB_CompositionsSource::initWithSQL(openMedia(), "author", context());
        manager_ = PlayListManager::initWithSource(source_);
    }
    static void writePlist(const std::string& name, const Value& value) {
        ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(value, documents() + "/" + name,
                                                                   NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    }
    static std::vector<std::string> keys(const MediaItems& items) {
        std::vector<std::string> result;
        for (const auto& item : items) result.push_back(item->key());
        return result;
    }
    std::shared_ptr<DB_CompositionsSource> source_;
    std::shared_ptr<PlayListManager> manager_;
};

TEST_F(PlayListManagerTest, ANewPlaylistIsWrittenOnlyWhenSavedAndReadsBackTheSame) {
    auto list = PlayListManager::createPlayList("Evening");
    EXPECT_NE(list->filename.find(".mplist"), std::string::npos);
    EXPECT_NE(list->filename.find('-'), std::string::npos);
    EXPECT_TRUE(manager_->playLists().empty());
    list->items = {source_->compositionForIndex(7), source_->compositionForIndex(2), source_->compositionForIndex(5)};
    ASSERT_TRUE(manager_->savePlaylist(*list));
    const Value file = NSPropertyListSerialization::propertyListWithContentsOfFile(manager_->playListFilePath(*list));
    EXPECT_EQ(file["name"].string(), "Evening");
    EXPECT_EQ(file["filename"].string(), list->filename);
    EXPECT_EQ(file["items"][0].string(), "7");
    const auto lists = manager_->playLists();
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0]->name, "Evening");
    EXPECT_EQ(keys(lists[0]->items), (std::vector<std::string>{"7", "2", "5"}));

    auto empty = PlayListManager::createPlayList("");
    empty->filename = "1-1.mplist";
    ASSERT_TRUE(manager_->savePlaylist(*empty));
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithContentsOfFile(documents() + "/1-1.mplist")["items"].count(), 0u);
}

TEST_F(PlayListManagerTest, ListingSortsByNameKeepsExtraKeysAndSkipsMissingTracks) {
    writePlist("1-1.mplist", Value(Value::Dictionary{{"filename", Value("1-1.mplist")},
                                                     {"name", Value("Zeta")},
                                                     {"items", Value(Value::Array{Value("3"), Value("99"), Value("1")})},
                                                     {"colour", Value("blue")}}));
    writePlist("2-2.mplist.bak", Value(Value::Dictionary{{"name", Value("Alpha")}, {"items", Value(Value::Array{})}}));
    writePlist("3-3.mplist", Value(Value::Dictionary{{"name", Value("Alpha")}, {"items", Value(Value::Array{Value("8")})}}));
    writePlist("notes.plist", Value(Value::Dictionary{{"name", Value("Not a playlist")}}));
    const auto lists = manager_->playLists();
    ASSERT_EQ(lists.size(), 3u);
    EXPECT_EQ(lists[0]->name, "Alpha");
    EXPECT_EQ(lists[1]->name, "Alpha");
    EXPECT_EQ(lists[2]->name, "Zeta");
    EXPECT_EQ(keys(lists[2]->items), (std::vector<std::string>{"3", "1"})) << "a track the database lost is left out";
    EXPECT_EQ(lists[0]->filename, "2-2.mplist.bak") << "the file it came from";
    // Saving keeps the key the application does not know.
    lists[2]->name = "Zeta 2";
    ASSERT_TRUE(manager_->savePlaylist(*lists[2]));
    const Value file = NSPropertyListSerialization::propertyListWithContentsOfFile(documents() + "/1-1.mplist");
    EXPECT_EQ(file["colour"].string(), "blue");
    EXPECT_EQ(file["name"].string(), "Zeta 2");
}

// Entries that name no composition the catalogue holds are left out of the list, and the log
// says which (the first twenty of many); the file keeps them.
TEST_F(PlayListManagerTest, EntriesNamingNoCompositionAreLeftOutWithALogLineNamingThemAndTheFileKeepsThem) {
    writePlist("6-6.mplist", Value(Value::Dictionary{
                                 {"name", Value("Mixed")},
                                 {"items", Value(Value::Array{Value("99"), Value("3"), Value("abc"), Value("424242"),
                                                              Value("0")})}}));
    Value::Array many{Value("8")};
    for (int i = 0; i < 25; ++i) many.push_back(Value(std::to_string(1000 + i)));
    writePlist("7-7.mplist", Value(Value::Dictionary{{"name", Value("Many")}, {"items", Value(many)}}));
    auto contents = [](const std::string& name) {
        std::ifstream in(documents() + "/" + name);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string mixed = contents("6-6.mplist"), manyFile = contents("7-7.mplist");
    testing::internal::CaptureStderr();
    const auto lists = manager_->playLists();
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(lists[1]->name, "Mixed");
    EXPECT_EQ(keys(lists[1]->items), (std::vector<std::string>{"3"}));
    EXPECT_NE(said.find("The playlist \"Mixed\" (6-6.mplist) leaves out 4 entries that name no composition here: "
                        "99, abc, 424242, 0."),
              std::string::npos)
        << said;
    EXPECT_EQ(keys(lists[0]->items), (std::vector<std::string>{"8"}));
    EXPECT_NE(said.find("The playlist \"Many\" (7-7.mplist) leaves out 25 entries that name no composition here: "
                        "1000, 1001, "),
              std::string::npos)
        << said;
    EXPECT_NE(said.find(", 1019, and 5 more."), std::string::npos) << said;
    EXPECT_EQ(contents("6-6.mplist"), mixed);
    EXPECT_EQ(contents("7-7.mplist"), manyFile);
}

TEST_F(PlayListManagerTest, AnUnreadableFileIsListedUnderItsFileNameAndCanBeDeleted) {
    {
        std::ofstream out(documents() + "/4-4.mplist");
        out << "garbage";
    }
    auto lists = manager_->playLists();
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0]->filename, "4-4.mplist");
    EXPECT_TRUE(lists[0]->items.empty());
    EXPECT_TRUE(manager_->deletePlayList(*lists[0]));
    EXPECT_TRUE(manager_->playLists().empty());
    EXPECT_FALSE(std::filesystem::exists(documents() + "/4-4.mplist"));
}

TEST_F(PlayListManagerTest, ADeleteThatFailsSaysSoAndNamesOutsideDocumentsAreRefused) {
    auto list = PlayListManager::createPlayList("Keep");
    ASSERT_TRUE(manager_->savePlaylist(*list));
    std::filesystem::permissions(documents(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const bool deleted = manager_->deletePlayList(*list);
    std::filesystem::permissions(documents(), std::filesystem::perms::owner_all);
    if (getuid() != 0) {
        EXPECT_FALSE(deleted);
    }
    auto escaping = PlayList::make("../outside.mplist", "x");
    EXPECT_FALSE(manager_->savePlaylist(*escaping));
    EXPECT_FALSE(manager_->deletePlayList(*escaping));
}

TEST_F(PlayListManagerTest, AHugePlaylistIsCutAtTheBoundInItsOrderAndSaysSo) {
    // A catalogue of 20,000 tracks and a playlist of 1,000,000 entries over it.
    auto sql = openMedia();
    ASSERT_NE(sql, nullptr);
    ASSERT_TRUE(sql->execRequest(
        "with recursive n(i) as (select 100 union all select i + 1 from n where i < 20099) "
        "insert into compositions select i, 'Трек ' || i, 'Track ' || i, 1, 1, 1, 'many/' || i || '.m4a', '0:03' from n"));
    sql->endRequest();
    constexpr std::size_t kEntries = 1000000;
    std::vector<std::string> entries{"424242", "3", "3"};  // a track the catalogue lacks, one twice
    while (entries.size() < kEntries) entries.push_back(std::to_string(100 + entries.size() % 20000));
    {
        std::ofstream out(documents() + "/5-5.mplist");
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>name</key>"
               "<string>Everything</string><key>items</key><array>";
        for (const auto& entry : entries) out << "<string>" << entry << "</string>";
        out << "</array></dict></plist>\n";
    }
    testing::internal::CaptureStderr();
    const auto lists = manager_->playLists();
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0]->name, "Everything");
    const auto& items = lists[0]->items;
    ASSERT_EQ(items.size(), PlayListManager::kMaximumEntries - 1) << "the bound's entries, less the missing track";
    std::vector<std::string> expected(entries.begin() + 1, entries.begin() + PlayListManager::kMaximumEntries);
    EXPECT_EQ(keys(items), expected);
    EXPECT_NE(items[0], items[1]) << "each entry is an item of its own";
    EXPECT_EQ(items.back()->fieldValue("name"), "Track " + expected.back());
    EXPECT_NE(said.find("The playlist 5-5.mplist holds 1000000 tracks; only its first 10000 are read."), std::string::npos)
        << said;

    // An edit of the part that was read keeps every entry past the bound, in its order.
    lists[0]->items.erase(lists[0]->items.begin());
    ASSERT_TRUE(manager_->savePlaylist(*lists[0]));
    const Value saved = NSPropertyListSerialization::propertyListWithContentsOfFile(documents() + "/5-5.mplist");
    ASSERT_TRUE(saved.isDictionary());
    const Value* storedItems = saved.dictionary().find("items");
    ASSERT_NE(storedItems, nullptr);
    const auto& stored = storedItems->array();
    ASSERT_EQ(stored.size(), kEntries - 2) << "less the missing track and the removed one";
    EXPECT_EQ(stored[0].stringValue(), entries[2]);
    EXPECT_EQ(stored[PlayListManager::kMaximumEntries - 2].stringValue(), entries[PlayListManager::kMaximumEntries]);
    EXPECT_EQ(stored.back().stringValue(), entries.back());
}

}  // namespace
