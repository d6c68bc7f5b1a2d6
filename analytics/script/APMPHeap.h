// The memory of one runtime: every heap object it made, the room they take in the allocator,
// and the collector that frees what only cycles keep alive. Counted references free everything else at
// once; objects are freed one after the other, never by recursion, so a value nested a million
// deep goes without exhausting the stack.
#pragma once

#include "analytics/script/APMPObject.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class APMPHeap {
public:
    // Live bytes a run may hold. Programs edit events of a few hundred bytes; a run that holds
    // this much is hostile, and ends with the budget error.
    static constexpr std::size_t kLiveBytesLimit = std::size_t{32} << 20;

    APMPHeap() = default;
    // Frees every object, cycles included; objects still referenced from outside are emptied,
    // detached, and freed when their last reference goes.
    ~APMPHeap();
    APMPHeap(const APMPHeap&) = delete;
    APMPHeap& operator=(const APMPHeap&) = delete;

    // What the allocator takes for a block of `bytes`: its header, rounded up to its alignment,
    // and never less than its smallest block (glibc's sizes on 64 bits). Memory is counted by
    // the room it takes, not by what is asked for.
    static constexpr std::size_t allocationBytes(std::size_t bytes) {
        constexpr std::size_t kHeader = sizeof(std::size_t);
        constexpr std::size_t kAlignment = 2 * sizeof(std::size_t);
        constexpr std::size_t kSmallest = 4 * sizeof(std::size_t);
        const std::size_t block = (bytes + kHeader + kAlignment - 1) / kAlignment * kAlignment;
        return block < kSmallest ? kSmallest : block;
    }
    // The room a list's buffer takes, by its capacity.
    template <class T>
    static std::size_t bufferBytes(const std::vector<T>& list) {
        return list.capacity() ? allocationBytes(list.capacity() * sizeof(T)) : 0;
    }
    // The room a text takes outside the string: none while it fits in the string itself.
    static std::size_t textBytes(const std::u16string& text);

    template <class T, class... Arguments>
    APMPRef<T> make(Arguments&&... arguments) {
        T* object = new T(*this, std::forward<Arguments>(arguments)...);
        // The object's own block, beyond what it counted of itself.
        static_cast<APMPObject*>(object)->account(static_cast<std::ptrdiff_t>(allocationBytes(sizeof(T)) - sizeof(T)));
        return APMPRef<T>(object);
    }

    // Bytes held outside the heap's objects while a command works (a text it builds, a copy, a
    // search's tables), counted with theirs while held.
    void holdBytes(std::size_t bytes) { account(static_cast<std::ptrdiff_t>(bytes)); }
    void releaseBytes(std::size_t bytes) { account(-static_cast<std::ptrdiff_t>(bytes)); }

    std::size_t liveBytes() const { return live_; }
    // The most bytes held at once since the last resetPeak.
    std::size_t peakBytes() const { return peak_; }
    void resetPeak() { peak_ = live_; }
    bool overLimit() const { return live_ > kLiveBytesLimit; }
    std::size_t objectCount() const { return count_; }

    // Whether enough was allocated since the last collection for another to pay off.
    bool collectionDue() const { return live_ > nextCollection_; }
    // Frees the objects that no reference from outside the heap reaches. Safe whenever every
    // value in use is held by a counted reference.
    void collect();

private:
    friend class APMPObject;

    static constexpr std::size_t kFirstCollection = std::size_t{4} << 20;

    // Every object that no reference from outside the heap reaches, held for the caller.
    std::vector<APMPRef<APMPObject>> unreachable();
    void link(APMPObject* object);
    void unlink(APMPObject* object);
    void account(std::ptrdiff_t bytes);

    APMPObject* first_ = nullptr;
    std::size_t count_ = 0;
    std::size_t live_ = 0;
    std::size_t peak_ = 0;
    std::size_t nextCollection_ = kFirstCollection;
};
