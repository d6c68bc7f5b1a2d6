// The memory of one runtime: every heap object it made, how many bytes they hold, and the
// collector that frees what only cycles keep alive. Counted references free everything else at
// once; objects are freed one after the other, never by recursion, so a value nested a million
// deep goes without exhausting the stack.
#pragma once

#include "analytics/script/APMPObject.h"

#include <cstddef>
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

    template <class T, class... Arguments>
    APMPRef<T> make(Arguments&&... arguments) {
        return APMPRef<T>(new T(*this, std::forward<Arguments>(arguments)...));
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
