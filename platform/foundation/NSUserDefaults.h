// User defaults: per-domain property-list stores under Library/Preferences, shared by every
// defaults object of a domain, over a process-wide registration domain.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class NSUserDefaults : public NSObject {
public:
    // The application's domain: the main bundle's identifier, or "app" without a bundle.
    static std::shared_ptr<NSUserDefaults> standardUserDefaults();
    // A named suite; an empty name gives the application's domain. Empty for the application's
    // own identifier, "NSGlobalDomain" and names that are not plain file names.
    [[nodiscard]] static std::shared_ptr<NSUserDefaults> initWithSuiteName(const std::string& suiteName);

    // The domain this object reads and writes.
    const std::string& domainName() const { return domain_; }

    // The value from the persistent domain, else the global values ("AppleLanguages"), else the
    // registration domain; null when absent everywhere.
    Value objectForKey(const std::string& key) const;
    // Numbers and numeric strings convert with the platform's rules; anything else gives 0.
    long integerForKey(const std::string& key) const;
    bool boolForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    float floatForKey(const std::string& key) const;
    // Strings as stored, numbers as their text; empty otherwise.
    std::string stringForKey(const std::string& key) const;
    // The value when it is of that kind, else empty.
    Value::Array arrayForKey(const std::string& key) const;
    Value::Dictionary dictionaryForKey(const std::string& key) const;
    NSData dataForKey(const std::string& key) const;

    // Stores a property-list value (null removes the key). A value a property list cannot hold
    // (objects, nulls inside containers) is refused with false and a message, nothing stored.
    [[nodiscard]] bool setObject(const Value& value, const std::string& key);
    void setInteger(long value, const std::string& key);
    void setBool(bool value, const std::string& key);
    void setDouble(double value, const std::string& key);
    void setFloat(float value, const std::string& key);
    void removeObjectForKey(const std::string& key);

    // Values consulted after every persistent domain; kept in memory only.
    void registerDefaults(const Value::Dictionary& registrationDictionary);
    // A count that moves whenever this domain's values may have changed: a write through any
    // object or the preferences functions, the file read again, a reset. For callers that keep
    // values in memory and must know when to read them again.
    std::uint64_t changeCount() const;

    // Writes pending changes now; with none pending, reads the file again when it changed on
    // disk. False when a write failed (told on standard error): the file keeps its old contents,
    // this process keeps the new values, and the next change or synchronize writes them again.
    [[nodiscard]] bool synchronize();
    // Writes the pending changes of every domain this process holds (the end of a process);
    // false when a write failed.
    [[nodiscard]] static bool synchronizeAll();

    // Whole domains by name. Removing deletes the file, and the next read of the domain goes
    // back to disk.
    Value::Dictionary persistentDomainForName(const std::string& domainName) const;
    void setPersistentDomain(const Value::Dictionary& domain, const std::string& domainName);
    void removePersistentDomainForName(const std::string& domainName);
    // Everything this object sees: registration, global and persistent values merged.
    Value::Dictionary dictionaryRepresentation() const;

    // Writes every pending change, then forgets all cached domains, the registration domain and
    // the standard object, as a new process would start (the simulated restart of tests).
    static void resetStandardUserDefaults();
    // What the process holds until that restart: whether the standard object is made, the
    // domains read into memory and how many defaults are registered.
    static std::string stateDescription();

    // One domain's values and file; opaque outside the implementation.
    struct Store;

private:
    friend class CFPreferencesBackend;

    NSUserDefaults(std::string domain, std::shared_ptr<Store> store);

    // Shared with the CFPreferences functions: one store per domain, the same files.
    static std::string applicationDomain();
    static std::shared_ptr<Store> storeForDomain(const std::string& domain);
    static bool isValidDomainName(const std::string& domain);
    static Value storeValue(const std::shared_ptr<Store>& store, const std::string& key);
    static Value::Dictionary storeContents(const std::shared_ptr<Store>& store);
    [[nodiscard]] static bool storeUpdate(const std::shared_ptr<Store>& store, const Value::Dictionary& toSet,
                                          const std::vector<std::string>& toRemove);
    [[nodiscard]] static bool storeSynchronize(const std::shared_ptr<Store>& store);
    static Value globalValue(const std::string& key);

    std::string domain_;
    std::shared_ptr<Store> store_;
};
