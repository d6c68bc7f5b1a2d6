// Heap objects, their counting, their deferred freeing and the cycle collector (trial deletion:
// what the heap's own references do not explain is referenced from outside, and everything
// reachable from there lives).
#include "analytics/script/APMPHeap.h"

#include <algorithm>
#include <vector>

namespace {

// Objects whose last reference went, freed in turn by the outermost release of the thread.
struct Destruction {
    // Room kept for the next release; a long chain's room goes back once it is freed, rather
    // than stay with the thread.
    static constexpr std::size_t kKeptRoom = 1024;
    std::vector<APMPObject*> pending;
    bool running = false;
};

Destruction& destruction() {
    thread_local Destruction queue;
    return queue;
}

}  // namespace

APMPObject::APMPObject(Type type, APMPHeap& heap) : type_(type), heap_(&heap) {
    heap.link(this);
    account(sizeof(APMPObject));
}

APMPObject::~APMPObject() {
    if (heap_) {
        heap_->account(-static_cast<std::ptrdiff_t>(accounted_));
        heap_->unlink(this);
    }
}

void APMPObject::account(std::ptrdiff_t bytes) {
    if (!heap_) return;
    accounted_ = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(accounted_) + bytes);
    heap_->account(bytes);
}

void APMPObject::destroy(APMPObject* object) {
    Destruction& queue = destruction();
    queue.pending.push_back(object);
    if (queue.running) return;
    queue.running = true;
    while (!queue.pending.empty()) {
        APMPObject* next = queue.pending.back();
        queue.pending.pop_back();
        delete next;
    }
    if (queue.pending.capacity() > Destruction::kKeptRoom) std::vector<APMPObject*>().swap(queue.pending);
    queue.running = false;
}

std::size_t APMPHeap::textBytes(const std::u16string& text) {
    static const std::size_t inPlace = std::u16string().capacity();
    return text.capacity() > inPlace ? allocationBytes((text.capacity() + 1) * sizeof(char16_t)) : 0;
}

void APMPHeap::link(APMPObject* object) {
    object->next_ = first_;
    if (first_) first_->previous_ = object;
    first_ = object;
    ++count_;
}

void APMPHeap::unlink(APMPObject* object) {
    if (object->previous_) object->previous_->next_ = object->next_;
    else first_ = object->next_;
    if (object->next_) object->next_->previous_ = object->previous_;
    object->previous_ = object->next_ = nullptr;
    --count_;
}

void APMPHeap::account(std::ptrdiff_t bytes) {
    live_ = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(live_) + bytes);
    peak_ = std::max(peak_, live_);
}

std::vector<APMPRef<APMPObject>> APMPHeap::unreachable() {
    struct Uncount final : APMPTracer {
        void visit(APMPObject* object) override { --object->collectorReferences_; }
    };
    struct Mark final : APMPTracer {
        std::vector<APMPObject*> work;
        void visit(APMPObject* object) override {
            if (object->marked_) return;
            object->marked_ = true;
            work.push_back(object);
        }
    };
    for (APMPObject* object = first_; object; object = object->next_) {
        object->collectorReferences_ = object->references_;
        object->marked_ = false;
    }
    Uncount uncount;
    for (APMPObject* object = first_; object; object = object->next_) object->trace(uncount);
    Mark mark;
    for (APMPObject* object = first_; object; object = object->next_) {
        if (object->collectorReferences_ > 0) mark.visit(object);
    }
    while (!mark.work.empty()) {
        APMPObject* object = mark.work.back();
        mark.work.pop_back();
        object->trace(mark);
    }
    std::vector<APMPRef<APMPObject>> garbage;
    for (APMPObject* object = first_; object; object = object->next_) {
        if (!object->marked_) garbage.emplace_back(object);
    }
    return garbage;
}

void APMPHeap::collect() {
    std::vector<APMPRef<APMPObject>> garbage = unreachable();
    for (const auto& object : garbage) object->clearReferences();
    garbage.clear();
    nextCollection_ = std::max(kFirstCollection, 2 * live_);
}

APMPHeap::~APMPHeap() {
    // Everything is taken apart, what outside references hold too: a cycle kept past the heap
    // could never be collected. A value kept past its runtime stays safe to use, holding nothing.
    std::vector<APMPRef<APMPObject>> all;
    all.reserve(count_);
    for (APMPObject* object = first_; object; object = object->next_) all.emplace_back(object);
    for (const auto& object : all) object->clearReferences();
    all.clear();
    // What outside references still hold lives on without a heap.
    while (first_) {
        APMPObject* object = first_;
        unlink(object);
        object->heap_ = nullptr;
    }
}
