// User defaults: typed values, the registration and global domains, persistence across a
// simulated restart, suites, concurrent writers, a failing disk, and the leftovers of killed
// writers.
#include "platform/foundation/NSUserDefaults.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string preferencesFile(const std::string& domain) { return Sandbox::preferences() + "/" + domain + ".plist"; }

Value::Dictionary readPreferencesFile(const std::string& domain) {
    Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(preferencesFile(domain));
    return plist.dictionary();
}

// Tells each file put in place by a rename, the end of an atomic write.
class RenameWatch final : public FaultyFileIO {
public:
    int rename(const std::string& from, const std::string& to, bool replace) override {
        const int err = FaultyFileIO::rename(from, to, replace);
        {
            std::lock_guard lock(mutex_);
            if (!err) ++renamed_[to];
        }
        placed_.notify_all();
        return err;
    }
    // Looks at `done` now and after every rename onto `path`; false when it does not hold
    // within `seconds` of real time.
    bool waitUntil(const std::string& path, const std::function<bool()>& done, double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        std::unique_lock lock(mutex_);
        for (;;) {
            const int seen = renamed_[path];
            lock.unlock();
            if (done()) return true;
            lock.lock();
            if (!placed_.wait_until(lock, deadline, [&] { return renamed_[path] != seen; })) return false;
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable placed_;
    std::map<std::string, int> renamed_;
};

class NSUserDefaultsTest : public testing::Test {
protected:
    void SetUp() override { NSUserDefaults::resetStandardUserDefaults(); }
    void TearDown() override { NSUserDefaults::resetStandardUserDefaults(); }

    // A fresh suite per test, so tests sharing the process's stores don't see each other.
    std::shared_ptr<NSUserDefaults> suite() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        name_ = std::string("test.") + info->name();
        auto defaults = NSUserDefaults::initWithSuiteName(name_);
        defaults->removePersistentDomainForName(name_);
        return defaults;
    }
    std::string name_;
};

TEST_F(NSUserDefaultsTest, TypedValuesRoundTripAndAbsentDiffersFromZero) {
    auto defaults = suite();
    EXPECT_TRUE(defaults->objectForKey("count").isNull());
    EXPECT_EQ(defaults->integerForKey("count"), 0);

    defaults->setInteger(0, "count");
    EXPECT_FALSE(defaults->objectForKey("count").isNull());
    EXPECT_EQ(defaults->integerForKey("count"), 0);
    defaults->setInteger(-42, "count");
    EXPECT_EQ(defaults->integerForKey("count"), -42);

    defaults->setBool(true, "flag");
    EXPECT_TRUE(defaults->boolForKey("flag"));
    EXPECT_TRUE(defaults->objectForKey("flag").isBool());
    defaults->setDouble(2.5, "ratio");
    EXPECT_DOUBLE_EQ(defaults->doubleForKey("ratio"), 2.5);
    EXPECT_TRUE(defaults->objectForKey("ratio").isFloatType());
    defaults->setFloat(1.25f, "size");
    EXPECT_FLOAT_EQ(defaults->floatForKey("size"), 1.25f);

    ASSERT_TRUE(defaults->setObject(Value("hello"), "greeting"));
    EXPECT_EQ(defaults->stringForKey("greeting"), "hello");
    ASSERT_TRUE(defaults->setObject(Value(Value::Array{Value(1), Value("two")}), "list"));
    ASSERT_EQ(defaults->arrayForKey("list").size(), 2u);
    EXPECT_EQ(defaults->arrayForKey("list")[1].string(), "two");
    ASSERT_TRUE(defaults->setObject(Value(Value::Dictionary{{"a", Value(1)}}), "map"));
    EXPECT_EQ(defaults->dictionaryForKey("map").get("a").integerValue(), 1);
    ASSERT_TRUE(defaults->setObject(Value(NSData{1, 2, 3}), "blob"));
    EXPECT_EQ(defaults->dataForKey("blob"), (NSData{1, 2, 3}));

    // A getter of another kind gives its empty value rather than a conversion.
    EXPECT_TRUE(defaults->arrayForKey("greeting").empty());
    EXPECT_TRUE(defaults->dictionaryForKey("list").empty());
    EXPECT_TRUE(defaults->dataForKey("map").empty());
    EXPECT_EQ(defaults->integerForKey("list"), 0);
}

TEST_F(NSUserDefaultsTest, NumbersAndStringsConvertLikeThePlatform) {
    auto defaults = suite();
    defaults->setInteger(17, "n");
    EXPECT_EQ(defaults->stringForKey("n"), "17");
    ASSERT_TRUE(defaults->setObject(Value("42abc"), "s"));
    EXPECT_EQ(defaults->integerForKey("s"), 42);
    ASSERT_TRUE(defaults->setObject(Value("YES"), "yes"));
    EXPECT_TRUE(defaults->boolForKey("yes"));
    ASSERT_TRUE(defaults->setObject(Value("no"), "no"));
    EXPECT_FALSE(defaults->boolForKey("no"));
    ASSERT_TRUE(defaults->setObject(Value("3.75"), "d"));
    EXPECT_DOUBLE_EQ(defaults->doubleForKey("d"), 3.75);
    defaults->setBool(true, "b");
    EXPECT_EQ(defaults->integerForKey("b"), 1);
}

TEST_F(NSUserDefaultsTest, NullAndRemovalDeleteAndNonPropertyListValuesAreRefused) {
    auto defaults = suite();
    defaults->setInteger(5, "a");
    ASSERT_TRUE(defaults->setObject(Value(), "a"));
    EXPECT_TRUE(defaults->objectForKey("a").isNull());
    defaults->setInteger(5, "b");
    defaults->removeObjectForKey("b");
    EXPECT_TRUE(defaults->objectForKey("b").isNull());

    EXPECT_TRUE(defaults->setObject(Value("kept"), "c"));
    EXPECT_FALSE(defaults->setObject(Value(std::make_shared<NSObject>()), "c"));
    EXPECT_FALSE(defaults->setObject(Value(Value::Array{Value(1), Value()}), "c"));
    EXPECT_EQ(defaults->stringForKey("c"), "kept");
}

TEST_F(NSUserDefaultsTest, RegistrationDomainIsConsultedLastAndNeverPersisted) {
    auto defaults = suite();
    defaults->registerDefaults({{"volume", Value(7)}, {"theme", Value("dark")}});
    EXPECT_EQ(defaults->integerForKey("volume"), 7);
    // Other objects, of other domains too, see the same registration domain.
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey("theme"), "dark");

    defaults->setInteger(3, "volume");
    EXPECT_EQ(defaults->integerForKey("volume"), 3);
    defaults->removeObjectForKey("volume");
    EXPECT_EQ(defaults->integerForKey("volume"), 7);

    defaults->setBool(true, "stored");
    ASSERT_TRUE(defaults->synchronize());
    const auto onDisk = readPreferencesFile(name_);
    EXPECT_TRUE(onDisk.contains("stored"));
    EXPECT_FALSE(onDisk.contains("theme"));

    NSUserDefaults::resetStandardUserDefaults();
    auto restarted = NSUserDefaults::initWithSuiteName(name_);
    EXPECT_TRUE(restarted->objectForKey("theme").isNull());
    EXPECT_TRUE(restarted->boolForKey("stored"));
}

TEST_F(NSUserDefaultsTest, AppleLanguagesComesFromTheLocaleBeneathTheDomain) {
    auto defaults = suite();
    const auto saved = NSLocale::preferredLanguages();
    NSLocale::setPreferredLanguages({"fr-CA", "uk"});
    auto languages = defaults->arrayForKey("AppleLanguages");
    ASSERT_EQ(languages.size(), 2u);
    EXPECT_EQ(languages[0].string(), "fr-CA");
    EXPECT_EQ(defaults->dictionaryRepresentation().get("AppleLanguages").count(), 2u);

    ASSERT_TRUE(defaults->setObject(Value(Value::Array{Value("pt-BR")}), "AppleLanguages"));
    EXPECT_EQ(defaults->arrayForKey("AppleLanguages")[0].string(), "pt-BR");
    NSLocale::setPreferredLanguages(saved);
}

TEST_F(NSUserDefaultsTest, DictionaryRepresentationMergesDomainsInPrecedence) {
    auto defaults = suite();
    defaults->registerDefaults({{"shared", Value("registered")}, {"onlyRegistered", Value(1)}});
    ASSERT_TRUE(defaults->setObject(Value("persistent"), "shared"));
    const auto all = defaults->dictionaryRepresentation();
    EXPECT_EQ(all.get("shared").string(), "persistent");
    EXPECT_EQ(all.get("onlyRegistered").integerValue(), 1);
    EXPECT_TRUE(all.contains("AppleLanguages"));
}

TEST_F(NSUserDefaultsTest, ValuesSurviveARestartThroughThePropertyListFile) {
    auto defaults = suite();
    defaults->setInteger(99, "launches");
    ASSERT_TRUE(defaults->setObject(Value(NSDate::dateWithTimeIntervalSince1970(1000.5)), "when"));
    ASSERT_TRUE(defaults->synchronize());
    const auto onDisk = readPreferencesFile(name_);
    EXPECT_EQ(onDisk.get("launches").integerValue(), 99);

    // Unsynchronized changes are written by the restart's flush as they would be at exit.
    ASSERT_TRUE(defaults->setObject(Value("late"), "last"));
    NSUserDefaults::resetStandardUserDefaults();
    auto restarted = NSUserDefaults::initWithSuiteName(name_);
    EXPECT_EQ(restarted->integerForKey("launches"), 99);
    EXPECT_DOUBLE_EQ(restarted->objectForKey("when").date().timeIntervalSince1970, 1000.5);
    EXPECT_EQ(restarted->stringForKey("last"), "late");
    // The old object shares the reloaded store rather than a stale copy.
    EXPECT_EQ(defaults->stringForKey("last"), "late");
}

TEST_F(NSUserDefaultsTest, ChangesReachTheFileWithoutSynchronize) {
    auto watch = std::make_shared<RenameWatch>();
    ScopedFileIO installed(watch);
    auto defaults = suite();
    defaults->setInteger(1, "background");
    // The writer thread writes on its own: the file is looked at as each write puts it in place.
    EXPECT_TRUE(watch->waitUntil(preferencesFile(name_), [&] { return readPreferencesFile(name_).contains("background"); }, 10));
    EXPECT_EQ(readPreferencesFile(name_).get("background").integerValue(), 1);
}

// Launches store counters and flags that are mostly what they were: no write, no flush to disk.
TEST_F(NSUserDefaultsTest, SettingWhatIsAlreadyThereWritesNothing) {
    auto defaults = suite();
    const Value list(Value::Array{Value(1), Value("a"), Value(Value::Dictionary{{"k", Value(2.5)}})});
    defaults->setInteger(1, "count");
    ASSERT_TRUE(defaults->setObject(list, "list"));
    ASSERT_TRUE(defaults->synchronize());
    const std::uint64_t count = defaults->changeCount();
    {
        FaultInjection injection;
        injection->readOnly(Sandbox::preferences() + "/*");
        defaults->setInteger(1, "count");
        ASSERT_TRUE(defaults->setObject(list, "list"));
        EXPECT_TRUE(defaults->synchronize());
        EXPECT_EQ(injection->injected(), 0) << "nothing was written";
        EXPECT_EQ(defaults->changeCount(), count);
    }
    // An equal number of another kind is stored otherwise, and so is a changed element.
    defaults->setBool(true, "count");
    ASSERT_TRUE(defaults->setObject(Value(Value::Array{Value(1), Value("a"), Value(Value::Dictionary{{"k", Value(3)}})}),
                                    "list"));
    ASSERT_TRUE(defaults->synchronize());
    const Value::Dictionary file = readPreferencesFile(name_);
    EXPECT_EQ(file.get("count").type(), Value::Type::Bool);
    EXPECT_EQ(file.get("list")[2]["k"].integerValue(), 3);
}

TEST_F(NSUserDefaultsTest, SynchronizeRereadsAFileReplacedOnDisk) {
    auto defaults = suite();
    defaults->setInteger(1, "version");
    ASSERT_TRUE(defaults->synchronize());
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(
        Value(Value::Dictionary{{"version", Value(2)}, {"moved", Value(true)}}), preferencesFile(name_),
        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(defaults->integerForKey("version"), 2);
    EXPECT_TRUE(defaults->boolForKey("moved"));
}

TEST_F(NSUserDefaultsTest, AnUnreadableFileGivesAnEmptyDomainThatCanBeWrittenAgain) {
    suite();
    {
        std::ofstream out(preferencesFile(name_));
        out << "not a property list";
    }
    NSUserDefaults::resetStandardUserDefaults();
    auto defaults = NSUserDefaults::initWithSuiteName(name_);
    EXPECT_TRUE(defaults->persistentDomainForName(name_).empty());
    defaults->setInteger(5, "fresh");
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(readPreferencesFile(name_).get("fresh").integerValue(), 5);
}

// Callers that keep values in memory compare the change count: it must move with every change
// of the domain's values, whoever makes it, and stay while the values stay.
TEST_F(NSUserDefaultsTest, TheChangeCountMovesWithEveryChangeOfTheDomain) {
    auto defaults = suite();
    auto other = NSUserDefaults::initWithSuiteName(name_);
    std::uint64_t last = defaults->changeCount();
    auto moved = [&] {
        const std::uint64_t now = defaults->changeCount();
        const bool changed = now != last;
        last = now;
        return changed;
    };
    (void)defaults->objectForKey("k");
    moved();
    EXPECT_FALSE(moved());
    other->setInteger(1, "k");
    EXPECT_TRUE(moved());
    EXPECT_EQ(other->changeCount(), defaults->changeCount());
    (void)defaults->integerForKey("k");
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_FALSE(moved());
    other->removeObjectForKey("absent");
    EXPECT_FALSE(moved());
    other->removeObjectForKey("k");
    EXPECT_TRUE(moved());
    defaults->setPersistentDomain({{"k", Value(2)}}, name_);
    EXPECT_TRUE(moved());
    ASSERT_TRUE(defaults->synchronize());
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value(Value::Dictionary{{"k", Value(3)}}),
                                                               preferencesFile(name_),
                                                               NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_TRUE(moved());
    EXPECT_EQ(defaults->integerForKey("k"), 3);
    moved();
    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_TRUE(moved());
    EXPECT_EQ(defaults->integerForKey("k"), 3);
    moved();
    defaults->removePersistentDomainForName(name_);
    EXPECT_TRUE(moved());
}

TEST_F(NSUserDefaultsTest, SuitesAreSeparateDomainsSharedByTheirObjects) {
    auto a = NSUserDefaults::initWithSuiteName("test.suite.a");
    auto b = NSUserDefaults::initWithSuiteName("test.suite.b");
    auto a2 = NSUserDefaults::initWithSuiteName("test.suite.a");
    a->setInteger(1, "k");
    b->setInteger(2, "k");
    EXPECT_EQ(a2->integerForKey("k"), 1);
    EXPECT_EQ(b->integerForKey("k"), 2);
    a2->setInteger(3, "k");
    EXPECT_EQ(a->integerForKey("k"), 3);

    auto standard = NSUserDefaults::standardUserDefaults();
    EXPECT_EQ(NSUserDefaults::initWithSuiteName("")->domainName(), standard->domainName());
    EXPECT_EQ(NSUserDefaults::initWithSuiteName(standard->domainName()), nullptr);
    EXPECT_EQ(NSUserDefaults::initWithSuiteName("NSGlobalDomain"), nullptr);
    EXPECT_EQ(NSUserDefaults::initWithSuiteName("../escape"), nullptr);
    EXPECT_EQ(NSUserDefaults::initWithSuiteName(".."), nullptr);
}

TEST_F(NSUserDefaultsTest, PersistentDomainsCanBeReadReplacedAndRemoved) {
    auto defaults = suite();
    defaults->setInteger(1, "x");
    ASSERT_TRUE(defaults->synchronize());
    ASSERT_TRUE(std::filesystem::exists(preferencesFile(name_)));

    auto standard = NSUserDefaults::standardUserDefaults();
    EXPECT_EQ(standard->persistentDomainForName(name_).get("x").integerValue(), 1);
    standard->setPersistentDomain({{"y", Value("why")}}, name_);
    EXPECT_TRUE(defaults->objectForKey("x").isNull());
    EXPECT_EQ(defaults->stringForKey("y"), "why");

    standard->removePersistentDomainForName(name_);
    EXPECT_FALSE(std::filesystem::exists(preferencesFile(name_)));

    // After removal the domain is read from disk again: a file moved into place is its content.
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(
        Value(Value::Dictionary{{"movedIn", Value(8)}}), preferencesFile(name_),
        NSPropertyListSerialization::NSPropertyListBinaryFormat_v1_0));
    EXPECT_EQ(defaults->integerForKey("movedIn"), 8);
    EXPECT_TRUE(defaults->objectForKey("y").isNull());

    standard->removePersistentDomainForName(name_);
    EXPECT_TRUE(defaults->objectForKey("movedIn").isNull());
    EXPECT_TRUE(defaults->synchronize());
    EXPECT_FALSE(std::filesystem::exists(preferencesFile(name_)));
}

TEST_F(NSUserDefaultsTest, TheStandardDomainIsTheMainBundleIdentifier) {
    const std::string previousBundle = NSBundle::mainBundle() ? NSBundle::mainBundle()->bundlePath() : "";
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->domainName(), "app");  // the test binary has no Info.plist

    const std::string bundle = Sandbox::tmp() + "/Identified.app";
    std::filesystem::create_directories(bundle);
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(
        Value(Value::Dictionary{{"CFBundleIdentifier", Value("com.example.gallery")}}), bundle + "/Info.plist",
        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    NSBundle::setMainBundlePath(bundle);
    NSUserDefaults::resetStandardUserDefaults();
    auto standard = NSUserDefaults::standardUserDefaults();
    EXPECT_EQ(standard->domainName(), "com.example.gallery");
    standard->setInteger(1, "zoom");
    ASSERT_TRUE(standard->synchronize());
    EXPECT_TRUE(std::filesystem::exists(preferencesFile("com.example.gallery")));
    EXPECT_EQ(NSUserDefaults::initWithSuiteName("com.example.gallery"), nullptr);
    standard->removePersistentDomainForName("com.example.gallery");
    NSBundle::setMainBundlePath(previousBundle);
}

// A full disk, a failed rename or a read-only folder under synchronize: it says false, the file
// keeps what it had, this process keeps the new value, and a later synchronize writes it.
TEST_F(NSUserDefaultsTest, AFailedWriteReportsFailureAndLosesNothing) {
    using Op = FaultyFileIO::Operation;
    struct Fault {
        const char* label;
        Op operation;
        int err;
    };
    const Fault faults[] = {{"full disk", Op::Write, ENOSPC},
                            {"failed rename", Op::Rename, EIO},
                            {"failing sync", Op::Sync, EIO},
                            {"read-only folder", Op::AnyChange, EROFS},
                            {"folder without permission", Op::AnyChange, EACCES}};
    auto defaults = suite();
    const std::string file = preferencesFile(name_);
    ASSERT_TRUE(defaults->setObject(Value("first"), "key"));
    for (const Fault& fault : faults) {
        // Settles the writer thread: nothing is left for it to write while the fault is in place.
        ASSERT_TRUE(defaults->synchronize()) << fault.label;
        const auto before = readDataFromFile(file);
        ASSERT_TRUE(before.has_value());
        {
            FaultInjection injection;
            injection->inject(fault.operation, Sandbox::preferences() + "/*", fault.err);
            ASSERT_TRUE(defaults->setObject(Value(fault.label), "key"));
            EXPECT_FALSE(defaults->synchronize()) << fault.label;
            EXPECT_GT(injection->injected(), 0) << fault.label;
            EXPECT_EQ(readDataFromFile(file), before) << fault.label;
            EXPECT_EQ(defaults->stringForKey("key"), fault.label);
        }
    }
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(readPreferencesFile(name_).get("key"), Value("folder without permission"));
}

// The end of a process writes every domain it holds and says when one could not be written.
TEST_F(NSUserDefaultsTest, SynchronizeAllWritesEveryDomainAndSaysWhenAWriteFailed) {
    auto first = suite();
    const std::string otherName = name_ + ".other";
    auto other = NSUserDefaults::initWithSuiteName(otherName);
    other->removePersistentDomainForName(otherName);
    ASSERT_TRUE(first->setObject(Value("one"), "key"));
    ASSERT_TRUE(other->setObject(Value("two"), "key"));
    EXPECT_TRUE(NSUserDefaults::synchronizeAll());
    EXPECT_EQ(readPreferencesFile(name_).get("key"), Value("one"));
    EXPECT_EQ(readPreferencesFile(otherName).get("key"), Value("two"));
    {
        FaultInjection injection;
        injection->inject(FaultyFileIO::Operation::Write, Sandbox::preferences() + "/*", ENOSPC);
        ASSERT_TRUE(other->setObject(Value("three"), "key"));
        EXPECT_FALSE(NSUserDefaults::synchronizeAll());
        EXPECT_EQ(readPreferencesFile(otherName).get("key"), Value("two"));
    }
    EXPECT_TRUE(NSUserDefaults::synchronizeAll());
    EXPECT_EQ(readPreferencesFile(otherName).get("key"), Value("three"));
    other->removePersistentDomainForName(otherName);
}

namespace {

void writeOldFile(const std::string& path) {
    ASSERT_TRUE(writeDataToFile(NSData{'x'}, path, false));
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = std::time(nullptr) - 3600;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

}  // namespace

// Writers killed in earlier runs leave temporary files; the first use of defaults in a run sweeps
// them (those of this writer and of earlier versions), and touches nothing else.
TEST_F(NSUserDefaultsTest, TheFirstUseSweepsTheTemporariesOfKilledWriters) {
    auto defaults = suite();
    ASSERT_TRUE(defaults->setObject(Value("kept"), "key"));
    ASSERT_TRUE(defaults->synchronize());
    const auto contents = readDataFromFile(preferencesFile(name_));
    const std::string folder = Sandbox::preferences();
    std::filesystem::create_directories(folder + "/ByHost");
    const std::vector<std::string> stale{"/." + name_ + ".plist.tmp-a1B2c3", "/." + name_ + ".plist.Q9w8E7",
                                         "/ByHost/.other.plist.tmp-000000"};
    const std::vector<std::string> kept{"/." + name_ + ".plist.tmp-young1", "/notes.txt", "/.hidden.file"};
    for (const auto& name : stale) writeOldFile(folder + name);
    for (const auto& name : kept) ASSERT_TRUE(writeDataToFile(NSData{'k'}, folder + name, false));
    writeOldFile(folder + "/notes.txt");

    NSUserDefaults::resetStandardUserDefaults();
    auto restarted = NSUserDefaults::initWithSuiteName(name_);
    for (const auto& name : stale) EXPECT_FALSE(std::filesystem::exists(folder + name)) << name;
    for (const auto& name : kept) EXPECT_TRUE(std::filesystem::exists(folder + name)) << name;
    EXPECT_EQ(readDataFromFile(preferencesFile(name_)), contents);
    EXPECT_EQ(restarted->stringForKey("key"), "kept");
    for (const auto& name : kept) std::filesystem::remove(folder + name);
}

// A bundle identifier that would put the defaults file outside the preferences folder counts as
// none: the domain is "app".
TEST_F(NSUserDefaultsTest, AnIdentifierThatWouldLeaveThePreferencesFolderCountsAsNone) {
    const std::string previousBundle = NSBundle::mainBundle() ? NSBundle::mainBundle()->bundlePath() : "";
    const std::string bundle = Sandbox::tmp() + "/Escaping.app";
    std::filesystem::create_directories(bundle);
    const std::string outside = std::filesystem::path(Sandbox::home()).parent_path().string() + "/x.plist";
    for (const std::string& identifier : {std::string("../../../x"), std::string("a/b"), std::string(".."),
                                         std::string("a\0b", 3), std::string(300, 'a')}) {
        ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(
            Value(Value::Dictionary{{"CFBundleIdentifier", Value(identifier)}}), bundle + "/Info.plist",
            NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
        NSBundle::setMainBundlePath(bundle);
        NSUserDefaults::resetStandardUserDefaults();
        auto standard = NSUserDefaults::standardUserDefaults();
        EXPECT_EQ(standard->domainName(), "app") << identifier;
        standard->setInteger(1, "zoom");
        ASSERT_TRUE(standard->synchronize());
        EXPECT_TRUE(std::filesystem::exists(preferencesFile("app")));
        EXPECT_FALSE(std::filesystem::exists(outside));
        standard->removePersistentDomainForName("app");
    }
    NSBundle::setMainBundlePath(previousBundle);
}

TEST_F(NSUserDefaultsTest, AnEmptiedDomainLeavesNoFile) {
    auto defaults = suite();
    defaults->setInteger(1, "only");
    ASSERT_TRUE(defaults->synchronize());
    ASSERT_TRUE(std::filesystem::exists(preferencesFile(name_)));
    defaults->removeObjectForKey("only");
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_FALSE(std::filesystem::exists(preferencesFile(name_)));
}

TEST_F(NSUserDefaultsTest, ConcurrentWritersAndReadersLoseNothing) {
    suite();
    constexpr int kThreads = 8;
    constexpr int kKeys = 200;
    std::atomic<bool> mismatch{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread its own object of the same suite: they share one store.
            auto defaults = NSUserDefaults::initWithSuiteName(name_);
            for (int k = 0; k < kKeys; ++k) {
                const std::string key = "t" + std::to_string(t) + "k" + std::to_string(k);
                defaults->setInteger(t * 1000 + k, key);
                if (defaults->integerForKey(key) != t * 1000 + k) mismatch = true;
                if (k % 50 == 0 && !defaults->synchronize()) mismatch = true;
                if (k % 20 == 0 && defaults->dictionaryRepresentation().empty()) mismatch = true;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(mismatch);

    NSUserDefaults::resetStandardUserDefaults();
    const auto onDisk = readPreferencesFile(name_);
    EXPECT_EQ(onDisk.size(), static_cast<std::size_t>(kThreads * kKeys));
    auto restarted = NSUserDefaults::initWithSuiteName(name_);
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeys; ++k)
            ASSERT_EQ(restarted->integerForKey("t" + std::to_string(t) + "k" + std::to_string(k)), t * 1000 + k);
}

}  // namespace
