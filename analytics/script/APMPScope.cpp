#include "analytics/script/APMPScope.h"

#include "analytics/script/APMPHeap.h"

APMPScope::APMPScope(APMPHeap& heap, APMPRef<APMPScope> parent)
    : APMPObject(Type::Scope, heap), parent_(std::move(parent)) {
    account(static_cast<std::ptrdiff_t>(sizeof(*this) - sizeof(APMPObject)));
}

APMPRef<APMPScope> APMPScope::createChildScope() { return heap()->make<APMPScope>(APMPRef<APMPScope>(this)); }

template <class Change>
void APMPScope::change(Change&& apply) {
    const std::size_t before = contents_.bytes();
    apply(contents_);
    account(static_cast<std::ptrdiff_t>(contents_.bytes()) - static_cast<std::ptrdiff_t>(before));
}

bool APMPScope::hasName(std::u16string_view name) const {
    const APMPPropertyMap::Key key(name);
    for (const APMPScope* scope = this; scope; scope = scope->parent_.get()) {
        if (scope->contents_.hasName(key)) return true;
    }
    return false;
}

APMPRuntimeValue APMPScope::valueForName(std::u16string_view name, std::size_t* hint) const {
    const APMPPropertyMap::Key key(name);
    for (const APMPScope* scope = this; scope; scope = scope->parent_.get()) {
        if (const APMPRuntimeValue* value = scope->contents_.find(key, hint)) return *value;
    }
    return APMPRuntimeValue::undefined();
}

void APMPScope::addValue(std::u16string_view name, APMPRuntimeValue value) {
    change([&](APMPPropertyMap& map) { map.setValue(name, std::move(value)); });
}

void APMPScope::addImmutableValue(std::u16string_view name, APMPRuntimeValue value) {
    change([&](APMPPropertyMap& map) { map.setImmutableValue(name, std::move(value)); });
}

bool APMPScope::assignValue(std::u16string_view name, const APMPRuntimeValue& value, std::size_t* hint) {
    // The nearest scope that holds the name is updated (walked, not recursed: scopes nest deep).
    // A scope with an immutable map on the way to it ignores the write, as each scope would
    // handing it on. Values are replaced in place: the memory held stays the same.
    bool writable = true;
    const APMPPropertyMap::Key key(name);
    for (APMPScope* scope = this; scope; scope = scope->parent_.get()) {
        if (scope->contents_.isImmutable()) writable = false;
        if (writable ? scope->contents_.replaceValue(key, value, hint) : scope->contents_.hasName(key)) return true;
    }
    return false;
}

void APMPScope::setValue(std::u16string_view name, APMPRuntimeValue value) {
    if (assignValue(name, value) || contents_.isImmutable()) return;
    addValue(name, std::move(value));
}

void APMPScope::trace(APMPTracer& tracer) const {
    if (parent_) tracer.visit(parent_.get());
    contents_.trace(tracer);
}

void APMPScope::clearReferences() {
    parent_ = APMPRef<APMPScope>();
    contents_.clear();
}
