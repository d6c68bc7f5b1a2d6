// The base of everything a program's run keeps on its runtime's heap: strings, arrays, maps,
// functions, statements, return values and scopes. Held through counted references that the
// worker queue alone touches; the heap counts their memory and frees the cycles that programs
// make (a map holding itself, a function stored in the scope it closes over).
#pragma once

#include <cstddef>
#include <cstdint>

class APMPHeap;
class APMPObject;

// What a heap object holds of other heap objects, reported to the collector.
class APMPTracer {
public:
    virtual void visit(APMPObject* object) = 0;

protected:
    ~APMPTracer() = default;
};

class APMPObject {
public:
    enum class Type : std::uint8_t { String, Array, Map, Function, Statement, Return, Scope };

    APMPObject(const APMPObject&) = delete;
    APMPObject& operator=(const APMPObject&) = delete;

    Type objectType() const { return type_; }

    void retain() { ++references_; }
    void release() {
        if (--references_ == 0) destroy(this);
    }

protected:
    APMPObject(Type type, APMPHeap& heap);
    virtual ~APMPObject();

    APMPHeap* heap() const { return heap_; }
    // Counts `bytes` more (or fewer) of memory held by this object on its heap.
    void account(std::ptrdiff_t bytes);

private:
    friend class APMPHeap;

    static void destroy(APMPObject* object);
    // Every heap object this one holds.
    virtual void trace(APMPTracer& tracer) const = 0;
    // Lets go of every value this one holds, to break a cycle that no one else reaches.
    virtual void clearReferences() = 0;

    Type type_;
    bool marked_ = false;
    std::uint32_t references_ = 0;
    std::int64_t collectorReferences_ = 0;
    std::size_t accounted_ = 0;
    APMPHeap* heap_;
    APMPObject* previous_ = nullptr;
    APMPObject* next_ = nullptr;
};

// A counted reference to a heap object of type T.
template <class T>
class APMPRef {
public:
    APMPRef() = default;
    APMPRef(T* object) : object_(object) {
        if (object_) object_->retain();
    }
    APMPRef(const APMPRef& other) : APMPRef(other.object_) {}
    APMPRef(APMPRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    template <class U>
    APMPRef(const APMPRef<U>& other) : APMPRef(static_cast<T*>(other.get())) {}
    ~APMPRef() {
        if (object_) object_->release();
    }
    APMPRef& operator=(APMPRef other) noexcept {
        T* old = object_;
        object_ = other.object_;
        other.object_ = old;
        return *this;
    }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    bool operator==(const APMPRef& other) const { return object_ == other.object_; }

private:
    T* object_ = nullptr;
};
