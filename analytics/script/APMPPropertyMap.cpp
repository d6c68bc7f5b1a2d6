#include "analytics/script/APMPPropertyMap.h"

#include "analytics/script/APMPHeap.h"

#include <cstdint>
#include <cstring>
#include <random>

namespace {
namespace propertyMaps {

// One position in the index: its link and the hash with the position (a number's hash is not
// kept beside it).
constexpr std::size_t kIndexNodeBytes = sizeof(void*) + sizeof(std::pair<const std::size_t, std::size_t>);

std::uint64_t processSeed() {
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    return seed;
}

constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

std::uint64_t rotate(std::uint64_t value, int bits) { return (value << bits) | (value >> (64 - bits)); }

}  // namespace propertyMaps
}  // namespace

std::size_t APMPPropertyMap::hashName(std::u16string_view name) {
    using namespace propertyMaps;
    const std::uint64_t seed = processSeed();
    std::uint64_t hash = seed ^ name.size();
    std::size_t i = 0;
    if (name.size() >= 16) {
        // Four lanes of four units each at a time.
        std::uint64_t lanes[4] = {seed, rotate(seed, 16), rotate(seed, 32), rotate(seed, 48)};
        for (; i + 16 <= name.size(); i += 16) {
            for (std::size_t lane = 0; lane < 4; ++lane) {
                std::uint64_t word = 0;
                std::memcpy(&word, name.data() + i + 4 * lane, sizeof word);
                lanes[lane] = (lanes[lane] ^ word) * kMultiplier;
                lanes[lane] ^= lanes[lane] >> 29;
            }
        }
        hash ^= lanes[0] ^ rotate(lanes[1], 13) ^ rotate(lanes[2], 29) ^ rotate(lanes[3], 47);
    }
    for (; i < name.size(); ++i) hash = (hash ^ name[i]) * kMultiplier;
    hash ^= hash >> 32;
    hash *= kMultiplier;
    return static_cast<std::size_t>(hash ^ (hash >> 29));
}

bool APMPPropertyMap::Key::names(const Entry& entry) const {
    using namespace propertyMaps;
    if (entry.name.size() != name_.size()) return false;
    if (name_.size() > kShortName && entry.hash != hash()) return false;
    return std::memcmp(entry.name.data(), name_.data(), name_.size() * sizeof(char16_t)) == 0;
}

std::size_t APMPPropertyMap::search(const Key& key) const {
    if (entries_.size() <= kScanned) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (key.names(entries_[i])) return i;
        }
        return kAbsent;
    }
    const auto [first, last] = index_.equal_range(key.hash());
    for (auto at = first; at != last; ++at) {
        if (key.names(entries_[at->second])) return at->second;
    }
    return kAbsent;
}

APMPRuntimeValue APMPPropertyMap::valueForName(std::u16string_view name) const {
    const APMPRuntimeValue* value = find(name);
    return value ? *value : APMPRuntimeValue::undefined();
}

void APMPPropertyMap::store(std::u16string_view name, APMPRuntimeValue value, bool immutable) {
    using namespace propertyMaps;
    if (immutable_) return;
    const Key key(name);
    const std::size_t at = position(key);
    if (at != kAbsent) {
        Entry& entry = entries_[at];
        if (entry.immutable) return;
        entry.value = std::move(value);
        entry.immutable = immutable;
        return;
    }
    entries_.push_back(Entry{std::u16string(name), std::move(value), immutable, key.hash()});
    nameBytes_ += APMPHeap::textBytes(entries_.back().name);
    if (entries_.size() > kScanned) {
        if (index_.empty()) reindex();
        else index_.emplace(entries_.back().hash, entries_.size() - 1);
    }
}

bool APMPPropertyMap::replaceValue(const Key& key, const APMPRuntimeValue& value, std::size_t* hint) {
    const std::size_t at = position(key, hint);
    if (at == kAbsent) return false;
    Entry& entry = entries_[at];
    if (!immutable_ && !entry.immutable) entry.value = value;
    return true;
}

void APMPPropertyMap::removeValueForName(std::u16string_view name) {
    using namespace propertyMaps;
    if (immutable_) return;
    const std::size_t at = position(Key(name));
    if (at == kAbsent || entries_[at].immutable) return;
    nameBytes_ -= APMPHeap::textBytes(entries_[at].name);
    // Moved out first: releasing the value may free objects that reach this map.
    APMPRuntimeValue removed = std::move(entries_[at].value);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
    reindex();
}

std::size_t APMPPropertyMap::bytes() const {
    using namespace propertyMaps;
    std::size_t total = nameBytes_ + APMPHeap::bufferBytes(entries_);
    total += index_.size() * APMPHeap::allocationBytes(kIndexNodeBytes);
    // A table without entries holds its one bucket in place.
    if (index_.bucket_count() > 1) total += APMPHeap::allocationBytes(index_.bucket_count() * sizeof(void*));
    return total;
}

void APMPPropertyMap::reindex() {
    index_.clear();
    if (entries_.size() <= kScanned) return;
    for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].hash, i);
}

std::vector<std::u16string> APMPPropertyMap::allNames() const {
    std::vector<std::u16string> names;
    names.reserve(entries_.size());
    for (const Entry& entry : entries_) names.push_back(entry.name);
    return names;
}

void APMPPropertyMap::trace(APMPTracer& tracer) const {
    for (const Entry& entry : entries_) {
        if (APMPObject* object = entry.value.object()) tracer.visit(object);
    }
}

void APMPPropertyMap::clear() {
    std::vector<Entry> dropped;
    dropped.swap(entries_);
    index_.clear();
    nameBytes_ = 0;
}
