// The object model's root: names from the C++ type, identity equality and per-object slots.
#include "platform/foundation/NSObject.h"

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/TypeName.h"
#include "platform/foundation/Value.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <typeinfo>

NSObject::NSObject() = default;

NSObject::~NSObject() = default;

std::string NSObject::className() const {
    return readableTypeName(typeid(*this).name());
}

std::string NSObject::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return "<" + className() + ": " + address + ">";
}

bool NSObject::isEqual(const NSObject* other) const { return other == this; }

std::size_t NSObject::hash() const { return std::hash<const void*>()(this); }

Value NSObject::associatedValue(const void* key) const {
    MutexLock lock(slotsMutex_);
    if (!slots_) return Value();
    auto it = slots_->find(key);
    return it == slots_->end() ? Value() : it->second;
}

void NSObject::setAssociatedValue(const void* key, const Value& value) {
    // The replaced value is destroyed after the lock is released: it may own the last
    // reference to an object whose destructor touches these slots again.
    Value old;
    {
        MutexLock lock(slotsMutex_);
        if (value.isNull()) {
            if (!slots_) return;
            auto it = slots_->find(key);
            if (it == slots_->end()) return;
            old = std::move(it->second);
            slots_->erase(it);
            return;
        }
        if (!slots_) slots_ = std::make_unique<std::map<const void*, Value>>();
        Value& slot = (*slots_)[key];
        old = std::move(slot);
        slot = value;
    }
}
