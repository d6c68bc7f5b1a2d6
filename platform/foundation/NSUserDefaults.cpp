// User defaults: one shared store per domain, loaded lazily from its property list and written
// back by a writer thread that coalesces bursts of changes into one atomic file write.
#include "platform/foundation/NSUserDefaults.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileStamp.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/PathComponent.h"
#include "platform/foundation/PlatformThreads.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <thread>

namespace {

constexpr const char* kGlobalDomain = "NSGlobalDomain";
constexpr const char* kAppleLanguages = "AppleLanguages";

bool isPropertyListValue(const Value& value) {
    switch (value.type()) {
    case Value::Type::Null:
    case Value::Type::Object:
        return false;
    case Value::Type::Array:
        for (const Value& element : value.array())
            if (!isPropertyListValue(element)) return false;
        return true;
    case Value::Type::Dictionary:
        for (const auto& entry : value.dictionary())
            if (!isPropertyListValue(entry.second)) return false;
        return true;
    default:
        return true;
    }
}

// The same value written the same way: equal numbers of another kind (1 and 1.0, 1 and true)
// are stored differently, so they count as a change.
bool sameStoredValue(const Value& a, const Value& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
    case Value::Type::Array: {
        const auto& left = a.array();
        const auto& right = b.array();
        if (left.size() != right.size()) return false;
        for (std::size_t i = 0; i < left.size(); ++i)
            if (!sameStoredValue(left[i], right[i])) return false;
        return true;
    }
    case Value::Type::Dictionary: {
        const auto& left = a.dictionary();
        const auto& right = b.dictionary();
        if (left.size() != right.size()) return false;
        for (const auto& entry : left) {
            const Value* other = right.find(entry.first);
            if (!other || !sameStoredValue(entry.second, *other)) return false;
        }
        return true;
    }
    default:
        return a == b;
    }
}

std::string pathForDomain(const std::string& domain) {
    return Sandbox::preferences() + "/" + domain + ".plist";
}

// Removes a domain's file; a file already gone is success. Returns 0 or the errno.
int removeDomainFile(const std::string& path) {
    const int err = FileIO::current()->remove(path);
    return err == ENOENT ? 0 : err;
}

// The temporary files of writes a killed process never finished pile up in the preferences
// folders otherwise; nothing of this process is writing there yet when this runs.
void removeStaleTemporaryPreferences() {
    for (const std::string& folder : {Sandbox::preferences(), Sandbox::preferences() + "/ByHost"})
        removeStaleTemporaryFiles(folder, true);
}

}  // namespace

struct NSUserDefaults::Store : std::enable_shared_from_this<NSUserDefaults::Store> {
    explicit Store(std::string name) : domain(std::move(name)) {}

    const std::string domain;

    // Lock order: writeMutex, then mutex. writeMutex keeps file writes in snapshot order.
    Mutex writeMutex ACQUIRED_BEFORE(mutex);
    Mutex mutex;
    bool loaded GUARDED_BY(mutex) = false;
    std::string path GUARDED_BY(mutex);
    Value::Dictionary values GUARDED_BY(mutex);
    bool dirty GUARDED_BY(mutex) = false;
    bool queued GUARDED_BY(mutex) = false;
    // The file as last read or written (none when there was none), so that synchronize notices a
    // file replaced behind us.
    std::optional<file_detail::FileStamp> stamp GUARDED_BY(mutex);
    // Moved (with `mutex` held) by every change of `values` and of `loaded`.
    std::atomic<std::uint64_t> changes{0};

    void unload() REQUIRES(mutex) {
        loaded = false;
        changes.fetch_add(1, std::memory_order_release);
    }

    void ensureLoaded() REQUIRES(mutex) {
        if (loaded) return;
        changes.fetch_add(1, std::memory_order_release);
        path = pathForDomain(domain);
        values.clear();
        stamp = file_detail::FileStamp::ofFile(path);
        if (stamp) {
            NSErrorPtr error;
            Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(path, &error);
            if (plist.isDictionary()) {
                values = plist.dictionary();
            } else {
                Diagnostics::notef("User defaults file %s could not be read (%s); the domain starts empty.\n",
                                   path.c_str(),
                                   error ? error->localizedDescription().c_str() : "not a dictionary");
            }
        }
        loaded = true;
    }

    // After a change.
    void markDirty() REQUIRES(mutex);

    // Writes the current values when they changed.
    [[nodiscard]] bool flushLocked() REQUIRES(writeMutex) EXCLUDES(mutex) {
        Value::Dictionary snapshot;
        std::string target;
        {
            MutexLock lock(mutex);
            queued = false;
            if (!loaded || !dirty) return true;
            snapshot = values;
            target = path;
            dirty = false;
        }
        bool ok = true;
        std::string failure;
        if (snapshot.empty()) {
            // An emptied domain leaves no file behind, as a removed one.
            if (const int err = removeDomainFile(target)) {
                ok = false;
                failure = std::strerror(err);
            }
        } else {
            // ByHost domains live in a folder of their own; a failure here shows in the write below.
            (void)FileIO::current()->makeFolders(target.substr(0, target.find_last_of('/')));
            NSErrorPtr error;
            ok = NSPropertyListSerialization::writePropertyList(
                Value(std::move(snapshot)), target, NSPropertyListSerialization::NSPropertyListBinaryFormat_v1_0,
                &error);
            if (!ok) failure = error ? error->localizedDescription() : "unknown error";
        }
        MutexLock lock(mutex);
        if (target == path) stamp = file_detail::FileStamp::ofFile(target);
        if (!ok) {
            // Kept dirty so the next change or synchronize tries again; the values stay in memory
            // and the file on disk stays as it was.
            dirty = true;
            Diagnostics::notef("User defaults file %s could not be written: %s", target.c_str(), failure.c_str());
        }
        return ok;
    }

    [[nodiscard]] bool flush() EXCLUDES(writeMutex) {
        MutexLock lock(writeMutex);
        return flushLocked();
    }
};

namespace {

// Writes dirty stores off the caller's thread; changes made while a write runs are written by
// the next one, so a burst costs few writes.
class DefaultsWriter {
public:
    void enqueue(std::shared_ptr<NSUserDefaults::Store> store) EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        pending_.push_back(std::move(store));
        if (!started_) {
            started_ = true;
            std::thread([this] {
                PlatformThreads::Member member("defaults-writer");
                run();
            }).detach();
        }
        wake_.notify_one();
    }

private:
    void run() EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        for (;;) {
            lock.wait(wake_, [this]() REQUIRES(mutex_) { return !pending_.empty(); });
            auto store = std::move(pending_.front());
            pending_.pop_front();
            lock.unlock();
            // A failed write has told why and stays pending for the next change or synchronize.
            (void)store->flush();
            store.reset();
            lock.lock();
        }
    }

    Mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<NSUserDefaults::Store>> pending_ GUARDED_BY(mutex_);
    bool started_ GUARDED_BY(mutex_) = false;
};

DefaultsWriter& writer() {
    static DefaultsWriter* w = new DefaultsWriter;  // never destroyed: its thread outlives static destruction
    return *w;
}

struct Registry {
    Mutex mutex;
    std::map<std::string, std::shared_ptr<NSUserDefaults::Store>> stores GUARDED_BY(mutex);
    std::shared_ptr<NSUserDefaults> standard GUARDED_BY(mutex);
    // Whether this process (or, after a simulated restart, this run) has swept the stale temporaries.
    bool swept GUARDED_BY(mutex) = false;

    Mutex registrationMutex;
    Value::Dictionary registration GUARDED_BY(registrationMutex);

    std::vector<std::shared_ptr<NSUserDefaults::Store>> allStores() EXCLUDES(mutex) {
        MutexLock lock(mutex);
        std::vector<std::shared_ptr<NSUserDefaults::Store>> result;
        for (auto& [name, store] : stores) result.push_back(store);
        return result;
    }
};

void flushAllAtExit();

Registry& registry() {
    static Registry* r = [] {
        auto* created = new Registry;  // never destroyed: the exit flush and late writers use it
        std::atexit(flushAllAtExit);
        return created;
    }();
    return *r;
}

void flushAllAtExit() {
    // A failed write has told why; at exit there is no one left to tell.
    for (auto& store : registry().allStores()) (void)store->flush();
}

}  // namespace

void NSUserDefaults::Store::markDirty() {
    changes.fetch_add(1, std::memory_order_release);
    dirty = true;
    if (!queued) {
        queued = true;
        writer().enqueue(shared_from_this());
    }
}

NSUserDefaults::NSUserDefaults(std::string domain, std::shared_ptr<Store> store)
    : domain_(std::move(domain)), store_(std::move(store)) {}

std::string NSUserDefaults::applicationDomain() {
    auto bundle = NSBundle::mainBundle();
    const std::string identifier = bundle ? bundle->bundleIdentifier() : std::string();
    // An identifier that would put the file outside the preferences folder counts as none.
    return safePathComponent(identifier, "app", "The bundle identifier");
}

bool NSUserDefaults::isValidDomainName(const std::string& domain) {
    // The name becomes a file name under Library/Preferences and must stay there.
    return isSafePathComponent(domain);
}

std::shared_ptr<NSUserDefaults::Store> NSUserDefaults::storeForDomain(const std::string& domain) {
    Registry& r = registry();
    MutexLock lock(r.mutex);
    if (!r.swept) {
        r.swept = true;
        removeStaleTemporaryPreferences();
    }
    auto& slot = r.stores[domain];
    if (!slot) slot = std::make_shared<Store>(domain);
    return slot;
}

std::shared_ptr<NSUserDefaults> NSUserDefaults::standardUserDefaults() {
    Registry& r = registry();
    {
        MutexLock lock(r.mutex);
        if (r.standard) return r.standard;
    }
    const std::string domain = applicationDomain();
    auto store = storeForDomain(domain);
    MutexLock lock(r.mutex);
    if (!r.standard) r.standard = std::shared_ptr<NSUserDefaults>(new NSUserDefaults(domain, std::move(store)));
    return r.standard;
}

std::shared_ptr<NSUserDefaults> NSUserDefaults::initWithSuiteName(const std::string& suiteName) {
    const std::string appDomain = standardUserDefaults()->domainName();
    if (suiteName.empty()) return std::shared_ptr<NSUserDefaults>(new NSUserDefaults(appDomain, storeForDomain(appDomain)));
    if (suiteName == appDomain || suiteName == kGlobalDomain || !isValidDomainName(suiteName)) {
        Diagnostics::notef("\"%s\" cannot be used as a user defaults suite name.", suiteName.c_str());
        return nullptr;
    }
    return std::shared_ptr<NSUserDefaults>(new NSUserDefaults(suiteName, storeForDomain(suiteName)));
}

Value NSUserDefaults::storeValue(const std::shared_ptr<Store>& store, const std::string& key) {
    MutexLock lock(store->mutex);
    store->ensureLoaded();
    return store->values.get(key);
}

Value::Dictionary NSUserDefaults::storeContents(const std::shared_ptr<Store>& store) {
    MutexLock lock(store->mutex);
    store->ensureLoaded();
    return store->values;
}

bool NSUserDefaults::storeUpdate(const std::shared_ptr<Store>& store, const Value::Dictionary& toSet,
                                 const std::vector<std::string>& toRemove) {
    for (const auto& entry : toSet) {
        if (!isPropertyListValue(entry.second)) {
            Diagnostics::notef("Attempt to set a non-property-list value %s for key %s in user defaults domain %s.",
                               entry.second.description().c_str(), entry.first.c_str(), store->domain.c_str());
            return false;
        }
    }
    MutexLock lock(store->mutex);
    store->ensureLoaded();
    // Setting what is already there changes nothing and writes nothing.
    bool changed = false;
    for (const auto& entry : toSet) {
        const Value* current = store->values.find(entry.first);
        if (current && sameStoredValue(*current, entry.second)) continue;
        store->values.set(entry.first, entry.second);
        changed = true;
    }
    for (const std::string& key : toRemove) changed = store->values.erase(key) || changed;
    if (changed) store->markDirty();
    return true;
}

bool NSUserDefaults::storeSynchronize(const std::shared_ptr<Store>& store) {
    MutexLock writeLock(store->writeMutex);
    {
        MutexLock lock(store->mutex);
        if (!store->loaded) return true;
        if (!store->dirty) {
            // Nothing of ours to write: pick up a file that changed on disk since we read it.
            if (file_detail::FileStamp::ofFile(store->path) != store->stamp) store->unload();
            return true;
        }
    }
    return store->flushLocked();
}

Value NSUserDefaults::globalValue(const std::string& key) {
    if (key != kAppleLanguages) return {};
    Value::Array languages;
    for (const std::string& language : NSLocale::preferredLanguages()) languages.emplace_back(language);
    return Value(std::move(languages));
}

Value NSUserDefaults::objectForKey(const std::string& key) const {
    Value value = storeValue(store_, key);
    if (!value.isNull()) return value;
    value = globalValue(key);
    if (!value.isNull()) return value;
    Registry& r = registry();
    MutexLock lock(r.registrationMutex);
    return r.registration.get(key);
}

long NSUserDefaults::integerForKey(const std::string& key) const {
    const Value value = objectForKey(key);
    return value.isNumber() || value.isString() ? value.integerValue() : 0;
}

bool NSUserDefaults::boolForKey(const std::string& key) const {
    const Value value = objectForKey(key);
    return value.isNumber() || value.isString() ? value.boolValue() : false;
}

double NSUserDefaults::doubleForKey(const std::string& key) const {
    const Value value = objectForKey(key);
    return value.isNumber() || value.isString() ? value.doubleValue() : 0.0;
}

float NSUserDefaults::floatForKey(const std::string& key) const {
    return static_cast<float>(doubleForKey(key));
}

std::string NSUserDefaults::stringForKey(const std::string& key) const {
    const Value value = objectForKey(key);
    if (value.isString()) return value.string();
    if (value.isNumber()) return value.stringValue();
    return {};
}

Value::Array NSUserDefaults::arrayForKey(const std::string& key) const {
    const Value value = objectForKey(key);
    return value.isArray() ? value.array() : Value::Array();
}

Value::Dictionary NSUserDefaults::dictionaryForKey(const std::string& key) const {
    const Value value = objectForKey(key);
    return value.isDictionary() ? value.dictionary() : Value::Dictionary();
}

NSData NSUserDefaults::dataForKey(const std::string& key) const {
    const Value value = objectForKey(key);
    return value.isData() ? value.data() : NSData();
}

bool NSUserDefaults::setObject(const Value& value, const std::string& key) {
    if (value.isNull()) return storeUpdate(store_, {}, {key});
    Value::Dictionary change;
    change.set(key, value);
    return storeUpdate(store_, change, {});
}

// A number is always a property-list value, and a removal refuses nothing: these cannot fail.
void NSUserDefaults::setInteger(long value, const std::string& key) { (void)setObject(Value(value), key); }
void NSUserDefaults::setBool(bool value, const std::string& key) { (void)setObject(Value(value), key); }
void NSUserDefaults::setDouble(double value, const std::string& key) { (void)setObject(Value(value), key); }
void NSUserDefaults::setFloat(float value, const std::string& key) { (void)setObject(Value(value), key); }
void NSUserDefaults::removeObjectForKey(const std::string& key) { (void)storeUpdate(store_, {}, {key}); }

void NSUserDefaults::registerDefaults(const Value::Dictionary& registrationDictionary) {
    Registry& r = registry();
    MutexLock lock(r.registrationMutex);
    for (const auto& entry : registrationDictionary) r.registration.set(entry.first, entry.second);
}

bool NSUserDefaults::synchronize() { return storeSynchronize(store_); }

bool NSUserDefaults::synchronizeAll() {
    bool ok = true;
    for (auto& store : registry().allStores()) ok = store->flush() && ok;
    return ok;
}

std::uint64_t NSUserDefaults::changeCount() const { return store_->changes.load(std::memory_order_acquire); }

Value::Dictionary NSUserDefaults::persistentDomainForName(const std::string& domainName) const {
    if (!isValidDomainName(domainName)) return {};
    return storeContents(storeForDomain(domainName));
}

void NSUserDefaults::setPersistentDomain(const Value::Dictionary& domain, const std::string& domainName) {
    if (!isValidDomainName(domainName) || domainName == kGlobalDomain) return;
    if (!isPropertyListValue(Value(domain))) {
        Diagnostics::notef("Attempt to set a non-property-list persistent domain %s.", domainName.c_str());
        return;
    }
    auto store = storeForDomain(domainName);
    MutexLock lock(store->mutex);
    store->ensureLoaded();
    store->values = domain;
    store->markDirty();
}

void NSUserDefaults::removePersistentDomainForName(const std::string& domainName) {
    if (!isValidDomainName(domainName) || domainName == kGlobalDomain) return;
    auto store = storeForDomain(domainName);
    MutexLock writeLock(store->writeMutex);
    MutexLock lock(store->mutex);
    if (const int err = removeDomainFile(pathForDomain(domainName)))
        Diagnostics::notef("User defaults file of domain %s could not be removed: %s", domainName.c_str(),
                           std::strerror(err));
    // Unloaded rather than emptied: a file moved into place later is what the domain holds.
    store->values.clear();
    store->dirty = false;
    store->unload();
}

Value::Dictionary NSUserDefaults::dictionaryRepresentation() const {
    Value::Dictionary merged;
    {
        Registry& r = registry();
        MutexLock lock(r.registrationMutex);
        merged = r.registration;
    }
    merged.set(kAppleLanguages, globalValue(kAppleLanguages));
    for (const auto& entry : storeContents(store_)) merged.set(entry.first, entry.second);
    return merged;
}

std::string NSUserDefaults::stateDescription() {
    Registry& r = registry();
    std::string read;
    for (auto& store : r.allStores()) {
        MutexLock lock(store->mutex);
        if (store->loaded) read += (read.empty() ? "" : ", ") + store->domain;
    }
    std::size_t registered = 0;
    {
        MutexLock lock(r.registrationMutex);
        registered = r.registration.size();
    }
    bool standard = false;
    {
        MutexLock lock(r.mutex);
        standard = r.standard != nullptr;
    }
    return std::string(standard ? "standard object made" : "no standard object") + ", domains read [" + read + "], " +
           std::to_string(registered) + " registered";
}

void NSUserDefaults::resetStandardUserDefaults() {
    Registry& r = registry();
    for (auto& store : r.allStores()) {
        MutexLock writeLock(store->writeMutex);
        // A failed write has told why; the restart goes ahead with what is on disk, as a real one would.
        (void)store->flushLocked();
        MutexLock lock(store->mutex);
        store->values.clear();
        store->dirty = false;
        store->unload();
    }
    {
        MutexLock lock(r.registrationMutex);
        r.registration.clear();
    }
    MutexLock lock(r.mutex);
    r.standard.reset();
    r.swept = false;
}
