#include "analytics/script/APMPPropertyMap.h"

namespace {
namespace propertyMaps {

std::size_t entryBytes(std::u16string_view name) { return sizeof(APMPPropertyMap::Entry) + 2 * name.size(); }

}  // namespace propertyMaps
}  // namespace

std::size_t APMPPropertyMap::search(std::u16string_view name) const {
    if (entries_.size() <= kScanned) {
        const std::size_t hash = NameHash{}(name);
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].hash == hash && entries_[i].name == name) return i;
        }
        return kAbsent;
    }
    auto found = index_.find(name);
    return found == index_.end() ? kAbsent : found->second;
}

APMPRuntimeValue APMPPropertyMap::valueForName(std::u16string_view name) const {
    const APMPRuntimeValue* value = find(name);
    return value ? *value : APMPRuntimeValue::undefined();
}

void APMPPropertyMap::store(std::u16string_view name, APMPRuntimeValue value, bool immutable) {
    using namespace propertyMaps;
    if (immutable_) return;
    const std::size_t at = position(name);
    if (at != kAbsent) {
        Entry& entry = entries_[at];
        if (entry.immutable) return;
        entry.value = std::move(value);
        entry.immutable = immutable;
        return;
    }
    entries_.push_back(Entry{std::u16string(name), std::move(value), immutable, NameHash{}(name)});
    bytes_ += entryBytes(name);
    if (entries_.size() > kScanned) {
        if (index_.empty()) reindex();
        else index_.emplace(entries_.back().name, entries_.size() - 1);
    }
}

bool APMPPropertyMap::replaceValue(std::u16string_view name, const APMPRuntimeValue& value, std::size_t* hint) {
    const std::size_t at = position(name, hint);
    if (at == kAbsent) return false;
    Entry& entry = entries_[at];
    if (!immutable_ && !entry.immutable) entry.value = value;
    return true;
}

void APMPPropertyMap::removeValueForName(std::u16string_view name) {
    using namespace propertyMaps;
    if (immutable_) return;
    const std::size_t at = position(name);
    if (at == kAbsent || entries_[at].immutable) return;
    bytes_ -= entryBytes(name);
    // Moved out first: releasing the value may free objects that reach this map.
    APMPRuntimeValue removed = std::move(entries_[at].value);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
    reindex();
}

void APMPPropertyMap::reindex() {
    index_.clear();
    if (entries_.size() <= kScanned) return;
    for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].name, i);
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
    bytes_ = 0;
}
