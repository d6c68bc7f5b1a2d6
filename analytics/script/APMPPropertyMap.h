// Named values of a scope, map, array or function, in the order they were first set. A name
// can be made immutable, or the whole map; writes and removals of those are ignored.
#pragma once

#include "analytics/script/APMPRuntimeValue.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class APMPPropertyMap {
public:
    struct Entry {
        std::u16string name;
        APMPRuntimeValue value;
        bool immutable = false;
        // Of the name: names are compared in full only where these agree.
        std::size_t hash = 0;
    };

    // Names this short are compared unit by unit rather than hashed first.
    static constexpr std::size_t kShortName = 32;

    // A name's hash: seeded once per process, so that no program can pick names that share one,
    // and quick over long names.
    static std::size_t hashName(std::u16string_view name);

    // A name looked up, with its hash made at most once: a lookup through many maps (a scope and
    // those around it) hashes it once, and a short name is compared rather than hashed.
    class Key {
    public:
        explicit Key(std::u16string_view name) : name_(name) {}
        std::u16string_view name() const { return name_; }
        std::size_t hash() const {
            if (!hashed_) {
                hash_ = hashName(name_);
                hashed_ = true;
            }
            return hash_;
        }
        // Whether the entry is of this name.
        bool names(const Entry& entry) const;

    private:
        std::u16string_view name_;
        mutable std::size_t hash_ = 0;
        mutable bool hashed_ = false;
    };

    bool hasName(std::u16string_view name) const { return hasName(Key(name)); }
    bool hasName(const Key& key) const { return position(key) != kAbsent; }
    // The value stored under the name, or none. A hint, where given, is a position to try first
    // and is updated to where the name is found: a program reads the same names from scopes
    // laid out alike, call after call.
    const APMPRuntimeValue* find(std::u16string_view name, std::size_t* hint = nullptr) const {
        return find(Key(name), hint);
    }
    const APMPRuntimeValue* find(const Key& key, std::size_t* hint = nullptr) const {
        const std::size_t at = position(key, hint);
        return at == kAbsent ? nullptr : &entries_[at].value;
    }
    // Undefined for a missing name.
    APMPRuntimeValue valueForName(std::u16string_view name) const;
    void setValue(std::u16string_view name, APMPRuntimeValue value) { store(name, std::move(value), false); }
    void setImmutableValue(std::u16string_view name, APMPRuntimeValue value) { store(name, std::move(value), true); }
    // Replaces the value of a name the map holds, unless the name is immutable (nothing is then
    // written); false when the map does not hold the name.
    bool replaceValue(const Key& key, const APMPRuntimeValue& value, std::size_t* hint = nullptr);
    void removeValueForName(std::u16string_view name);
    void makeImmutable() { immutable_ = true; }
    bool isImmutable() const { return immutable_; }
    std::vector<std::u16string> allNames() const;
    const std::vector<Entry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }

    // Memory held, for the heap's count: the room the entries' list, the long names and the
    // index take.
    std::size_t bytes() const;
    void trace(APMPTracer& tracer) const;
    // Drops every value (also immutable ones), to break a cycle.
    void clear();

private:
    static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
    // Up to this many names are found by a scan; past it an index is kept.
    static constexpr std::size_t kScanned = 8;

    std::size_t position(const Key& key, std::size_t* hint = nullptr) const {
        if (hint && *hint < entries_.size() && key.names(entries_[*hint])) return *hint;
        const std::size_t at = search(key);
        if (hint && at != kAbsent) *hint = at;
        return at;
    }
    std::size_t search(const Key& key) const;
    void store(std::u16string_view name, APMPRuntimeValue value, bool immutable);
    void reindex();

    std::vector<Entry> entries_;
    // Positions by the hash of their name.
    std::unordered_multimap<std::size_t, std::size_t, std::hash<std::size_t>> index_;
    bool immutable_ = false;
    // Of the names too long to be kept in their strings.
    std::size_t nameBytes_ = 0;
};
