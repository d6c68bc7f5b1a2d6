// Root of the object model: shared ownership, identity, description and associated slots.
#pragma once

#include "platform/foundation/ThreadAnnotations.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>

class Value;

class NSObject : public std::enable_shared_from_this<NSObject> {
public:
    NSObject();  // defined where Value is complete, so this header needs only its declaration
    NSObject(const NSObject&) = delete;
    NSObject& operator=(const NSObject&) = delete;
    virtual ~NSObject();

    // The class name as written in the code (the C++ type, demangled).
    virtual std::string className() const;
    // "<ClassName: 0x...>" unless a class says more.
    virtual std::string description() const;
    // Identity unless a class compares contents.
    virtual bool isEqual(const NSObject* other) const;
    virtual std::size_t hash() const;

    // Per-object slots keyed by the address of a static of the caller.
    Value associatedValue(const void* key) const;
    void setAssociatedValue(const void* key, const Value& value);

    template <class T>
    std::shared_ptr<T> self() { return std::static_pointer_cast<T>(shared_from_this()); }
    template <class T>
    std::weak_ptr<T> weakSelf() { return self<T>(); }

    // An object that keeps itself alive while it works holds itself here and resets it when done.
    std::shared_ptr<NSObject> context;

private:
    mutable Mutex slotsMutex_;
    std::unique_ptr<std::map<const void*, Value>> slots_ GUARDED_BY(slotsMutex_);
};

// Exact-class and kind-of tests, as the platform's isMemberOfClass / isKindOfClass.
template <class T>
bool isKindOf(const std::shared_ptr<NSObject>& object) { return dynamic_cast<T*>(object.get()) != nullptr; }
