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
        // Of the name: a scan compares names only where these agree.
        std::size_t hash = 0;
    };

    bool hasName(std::u16string_view name) const { return position(name) != kAbsent; }
    // The value stored under the name, or none. A hint, where given, is a position to try first
    // and is updated to where the name is found: a program reads the same names from scopes
    // laid out alike, call after call.
    const APMPRuntimeValue* find(std::u16string_view name, std::size_t* hint = nullptr) const {
        const std::size_t at = position(name, hint);
        return at == kAbsent ? nullptr : &entries_[at].value;
    }
    // Undefined for a missing name.
    APMPRuntimeValue valueForName(std::u16string_view name) const;
    void setValue(std::u16string_view name, APMPRuntimeValue value) { store(name, std::move(value), false); }
    void setImmutableValue(std::u16string_view name, APMPRuntimeValue value) { store(name, std::move(value), true); }
    // Replaces the value of a name the map holds, unless the name is immutable (nothing is then
    // written); false when the map does not hold the name.
    bool replaceValue(std::u16string_view name, const APMPRuntimeValue& value, std::size_t* hint = nullptr);
    void removeValueForName(std::u16string_view name);
    void makeImmutable() { immutable_ = true; }
    bool isImmutable() const { return immutable_; }
    std::vector<std::u16string> allNames() const;
    const std::vector<Entry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }

    // Memory held, for the heap's count.
    std::size_t bytes() const { return bytes_; }
    void trace(APMPTracer& tracer) const;
    // Drops every value (also immutable ones), to break a cycle.
    void clear();

private:
    static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
    // Up to this many names are found by a scan; past it an index is kept.
    static constexpr std::size_t kScanned = 8;

    struct NameHash {
        using is_transparent = void;
        // Names are short: a multiplicative hash of the units costs less than hashing their bytes.
        std::size_t operator()(std::u16string_view name) const {
            std::size_t hash = name.size();
            for (char16_t unit : name) hash = hash * 31 + unit;
            return hash;
        }
    };

    std::size_t position(std::u16string_view name, std::size_t* hint = nullptr) const {
        if (hint && *hint < entries_.size() && entries_[*hint].name == name) return *hint;
        const std::size_t at = search(name);
        if (hint && at != kAbsent) *hint = at;
        return at;
    }
    std::size_t search(std::u16string_view name) const;
    void store(std::u16string_view name, APMPRuntimeValue value, bool immutable);
    void reindex();

    std::vector<Entry> entries_;
    std::unordered_map<std::u16string, std::size_t, NameHash, std::equal_to<>> index_;
    bool immutable_ = false;
    std::size_t bytes_ = 0;
};
