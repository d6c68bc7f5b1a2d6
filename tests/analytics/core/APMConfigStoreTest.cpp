// The key-value stores: both paths of the preferences store, the plist-file store's coalesced
// writes, refusals with their codes, and values surviving a restart.
#include "analytics/core/APMPersistentDictionary.h"
#include "analytics/core/APMUserDefaults.h"

#include "analytics/core/APMFileLocations.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/services/VULLogger.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/Readme.h"

#include <gtest/gtest.h>

#include <mutex>

namespace {

class Warnings {
public:
    Warnings() {
        VULSetLogHandler([this](int, const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~Warnings() { VULSetLogHandler(nullptr); }
    bool contains(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& line : lines_) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_.size();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// One object that is no property-list value.
class Opaque : public NSObject {};

void exerciseTypedAccess(APMConfigStore& store) {
    store.setObject(Value("text"), "s");
    store.setInteger(42, "i");
    store.setDouble(2.5, "d");
    store.setBool(true, "b");
    store.setObject(Value(NSDate{77}), "date");
    store.setObject(Value(NSData{1, 2}), "data");
    store.setObject(Value(Value::Array{Value(1), Value("x")}), "array");
    EXPECT_EQ(store.stringForKey("s"), "text");
    EXPECT_FALSE(store.stringForKey("i"));
    EXPECT_EQ(store.integerForKey("i"), 42);
    EXPECT_EQ(store.integerForKey("s"), 0);
    EXPECT_DOUBLE_EQ(store.doubleForKey("d"), 2.5);
    EXPECT_FLOAT_EQ(store.floatForKey("d"), 2.5f);
    EXPECT_TRUE(store.boolForKey("b"));
    EXPECT_EQ(store.objectForKey("date").date().timeIntervalSince1970, 77);
    EXPECT_EQ(store.objectForKey("data").data(), (NSData{1, 2}));
    EXPECT_EQ(store.arrayForKey("array")->size(), 2u);
    EXPECT_FALSE(store.dictionaryForKey("array"));
    store.removeObjectForKey("s");
    EXPECT_TRUE(store.objectForKey("s").isNull());
    store.setObject(Value(), "i");
    EXPECT_TRUE(store.objectForKey("i").isNull());
}

TEST(APMUserDefaultsTest, BothPathsStoreTypedValues) {
    auto cf = APMUserDefaults::initWithSuiteName("com.test.cf");
    EXPECT_TRUE(cf->useCFPreferencesLibrary());  // no Info.plist switch: the CoreFoundation path
    exerciseTypedAccess(*cf);
    auto defaults = APMUserDefaults::initWithSuiteName("com.test.ud");
    defaults->setUseCFPreferencesLibrary(false);
    exerciseTypedAccess(*defaults);
}

TEST(APMUserDefaultsTest, RefusesBadKeysAndValuesWithTheirCodes) {
    Warnings warnings;
    auto store = APMUserDefaults::initWithSuiteName("com.test.refuse");
    EXPECT_TRUE(store->objectForKey(Value(5)).isNull());
    EXPECT_TRUE(warnings.contains("<ZevUzeviroreda>[I-ACS041001] Cannot get object for invalid user default key."));
    store->setObject(Value("v"), Value(""));
    EXPECT_TRUE(warnings.contains("[I-ACS041002] Cannot set object for invalid user default key."));
    store->setObject(Value(std::make_shared<Opaque>()), "k");
    EXPECT_TRUE(warnings.contains("[I-ACS041003] Cannot set invalid object to user defaults. Must be a string or "
                                  "number or an array. Value "));
    EXPECT_TRUE(store->objectForKey("k").isNull());
}

TEST(APMUserDefaultsTest, SurvivesARestartAndClearsItsDomain) {
    auto suite = APMUserDefaults::initWithSuiteName("com.test.restart");
    suite->setObject(Value("kept"), "key");
    suite->synchronize();
    const std::string file = APMPreferencesPlistPath("com.test.restart");
    ASSERT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(file));
    EXPECT_TRUE(suite->isPreferenceFileExcluded());
    EXPECT_TRUE(NSFileManager::defaultManager()->isExcludedFromBackup(file));
    NSUserDefaults::resetStandardUserDefaults();
    auto reopened = APMUserDefaults::initWithSuiteName("com.test.restart");
    EXPECT_EQ(reopened->stringForKey("key"), "kept");
    reopened->clearAllData();
    EXPECT_TRUE(reopened->objectForKey("key").isNull());

    auto viaDefaults = APMUserDefaults::initWithSuiteName("com.test.restart2");
    viaDefaults->setUseCFPreferencesLibrary(false);
    viaDefaults->setObject(Value(3), "n");
    viaDefaults->synchronize();
    NSUserDefaults::resetStandardUserDefaults();
    auto again = APMUserDefaults::initWithSuiteName("com.test.restart2");
    again->setUseCFPreferencesLibrary(false);
    EXPECT_EQ(again->integerForKey("n"), 3);
    again->clearAllData();
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(APMPreferencesPlistPath("com.test.restart2")));
}

class APMPersistentDictionaryTest : public testing::Test {
protected:
    void SetUp() override { Clock::setManual(100); }
    void TearDown() override { Clock::setReal(); }
    static Value onDisk(const std::string& path) { return NSPropertyListSerialization::propertyListWithContentsOfFile(path); }
    static void waitForWrite(const std::shared_ptr<APMPersistentDictionary>& dictionary) {
        dictionary->serialQueue()->sync([] {});
    }
};

TEST_F(APMPersistentDictionaryTest, TenChangesWithinASecondMakeOneWrite) {
    auto dictionary = APMPersistentDictionary::initWithFileName("com.test.dict");
    ASSERT_NE(dictionary, nullptr);
    EXPECT_EQ(dictionary->filePath(), APMApplicationSupportPath("com.test.dict.plist"));
    exerciseTypedAccess(*dictionary);
    for (int i = 0; i < 10; ++i) {
        dictionary->setInteger(i, "k" + std::to_string(i));
        Clock::advance(0.05);
    }
    EXPECT_TRUE(dictionary->hasPendingPersistence());
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(dictionary->filePath()));
    Clock::advance(0.6);
    waitForWrite(dictionary);
    EXPECT_FALSE(dictionary->hasPendingPersistence());
    const Value written = onDisk(dictionary->filePath());
    ASSERT_TRUE(written.isDictionary());
    EXPECT_EQ(written["k9"].intValue(), 9);
    EXPECT_EQ(written["k0"].intValue(), 0);

    // The same value again, or removing an absent key, schedules nothing.
    dictionary->setInteger(9, "k9");
    dictionary->removeObjectForKey("absent");
    EXPECT_FALSE(dictionary->hasPendingPersistence());
}

// As the README says: settings kept in Application Support reach their file only a second after
// a change, so a kill within that second loses it.
TEST_F(APMPersistentDictionaryTest, AChangeReachesTheFileOnlyASecondAfterItAsTheReadmeSays) {
    EXPECT_NE(readmeText().find("they are written a second after a change, so a kill within about a second of a "
                                "launch can leave them without that launch's session"),
              std::string::npos);
    auto dictionary = APMPersistentDictionary::initWithFileName("com.test.second");
    ASSERT_NE(dictionary, nullptr);
    dictionary->setInteger(2, "session_number");
    Clock::advance(0.5);
    waitForWrite(dictionary);
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(dictionary->filePath()));
    Clock::advance(0.5);
    waitForWrite(dictionary);
    EXPECT_EQ(onDisk(dictionary->filePath())["session_number"].intValue(), 2);
}

TEST_F(APMPersistentDictionaryTest, SurvivesARestartAndWritesWhenReleased) {
    std::string path;
    {
        auto dictionary = APMPersistentDictionary::initWithFileName("com.test.release.plist");
        path = dictionary->filePath();
        dictionary->setObject(Value("v"), "key");
        EXPECT_TRUE(dictionary->hasPendingPersistence());
    }
    EXPECT_EQ(onDisk(path)["key"].string(), "v");
    auto reopened = APMPersistentDictionary::initWithFileName("com.test.release");
    EXPECT_EQ(reopened->stringForKey("key"), "v");
    reopened->clearAllData();
    EXPECT_TRUE(reopened->hasPendingPersistence());
}

// A write that fails is logged and reported, never taken for done: the content stays in memory,
// the next change writes it along, and so does the release when no change comes.
TEST_F(APMPersistentDictionaryTest, AFailedWriteKeepsTheContentForTheNextChangeOrTheRelease) {
    Warnings warnings;
    auto dictionary = APMPersistentDictionary::initWithFileName("com.test.failing");
    ASSERT_NE(dictionary, nullptr);
    const std::string path = dictionary->filePath();
    const std::string folder = NSString::stringByDeletingLastPathComponent(path);
    for (const char* fault : {"no space", "failed rename"}) {
        SCOPED_TRACE(fault);
        FaultInjection io;
        if (std::string(fault) == "no space") io->noSpace(folder + "/.com.test.failing.plist.tmp-*");
        else io->failRename(path);
        dictionary->setObject(Value(fault), fault);
        Clock::advance(1);
        waitForWrite(dictionary);
        EXPECT_GT(io->injected(), 0);
        EXPECT_TRUE(warnings.contains("[I-ACS043000] Cannot persist configs to disk"));
        EXPECT_FALSE(dictionary->persistToDisk());
        EXPECT_EQ(dictionary->stringForKey(fault), fault);
        EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(path));
    }
    // The next change carries the ones that did not reach the disk.
    dictionary->setObject(Value(3), "third");
    Clock::advance(1);
    waitForWrite(dictionary);
    Value written = onDisk(path);
    EXPECT_EQ(written["no space"].string(), "no space");
    EXPECT_EQ(written["failed rename"].string(), "failed rename");
    EXPECT_EQ(written["third"].intValue(), 3);

    {
        FaultInjection io;
        io->failRename(path);
        dictionary->setObject(Value("last"), "last");
        Clock::advance(1);
        waitForWrite(dictionary);
        EXPECT_GT(io->injected(), 0);
        EXPECT_FALSE(dictionary->hasPendingPersistence());
    }
    EXPECT_TRUE(onDisk(path)["last"].isNull());
    // No change comes: the release writes what the failed write left unsaved.
    dictionary.reset();
    EXPECT_EQ(onDisk(path)["last"].string(), "last");
    EXPECT_EQ(onDisk(path)["third"].intValue(), 3);
}

TEST_F(APMPersistentDictionaryTest, RefusalsAndUnreadableFiles) {
    Warnings warnings;
    const std::string path = APMApplicationSupportPlistPath("com.test.broken");
    auto manager = NSFileManager::defaultManager();
    ASSERT_TRUE(manager->createDirectoryAtPath(NSString::stringByDeletingLastPathComponent(path), true));
    ASSERT_TRUE(manager->createFileAtPath(path, NSData{'x', 'y'}));
    auto dictionary = APMPersistentDictionary::initWithFileName("com.test.broken");
    ASSERT_NE(dictionary, nullptr);
    EXPECT_TRUE(dictionary->objectForKey("anything").isNull());
    dictionary->objectForKey(Value(""));
    EXPECT_TRUE(warnings.contains("[I-ACS043001] Cannot get object for invalid config key."));
    dictionary->setObject(Value(1), Value(3));
    EXPECT_TRUE(warnings.contains("[I-ACS043002] Cannot set object for invalid config key."));
    dictionary->setObject(Value(std::make_shared<Opaque>()), "k");
    EXPECT_TRUE(warnings.contains("[I-ACS043003] Cannot set invalid object to config. Must be a string, number, "
                                  "array, dictionary, date, or data. Value "));
    EXPECT_FALSE(dictionary->hasPendingPersistence());
    EXPECT_EQ(APMPersistentDictionary::initWithFileName(""), nullptr);
}

}  // namespace
