// Memory of records, cells and lists: each piece taken from an arena or the heap, and given
// back only when it came from the heap.
#include "analytics/proto/APMPBMessageInfo.h"

#include "analytics/proto/APMPBMessageSchema.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// Most items a list holds: its capacity has 31 bits.
constexpr std::size_t kMaxItems = 0x7FFFFFFF;

}  // namespace

void APMPBRecordDelete::operator()(APMPBMessageInfo* info) const {
    if (info && !info->inArena()) delete info;
}

const char* APMPBMessageInfo::messageID() const { return schema ? schema->messageID() : nullptr; }
const std::uint32_t* APMPBMessageInfo::fieldTypes() const { return schema ? schema->fieldTypes() : nullptr; }

APMPBList& APMPBList::operator=(APMPBList&& other) noexcept {
    if (this != &other) {
        release();
        items_ = std::exchange(other.items_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = other.capacity_;
        other.capacity_ = 0;
        heap_ = other.heap_;
    }
    return *this;
}

void APMPBList::release() {
    for (APMPBCell& item : *this) item.~APMPBCell();
    if (heap_ && items_) ::operator delete(items_);
    items_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}

void APMPBList::reserve(std::size_t count, APMPBArena* arena) {
    if (count <= capacity_) return;
    if (count > kMaxItems) {
        std::fprintf(stderr, "APMPBList: list too large\n");
        std::abort();
    }
    const std::size_t bytes = count * sizeof(APMPBCell);
    auto* items = static_cast<APMPBCell*>(arena ? arena->allocate(bytes, alignof(APMPBCell)) : ::operator new(bytes));
    for (std::uint32_t i = 0; i < size_; ++i) {
        new (&items[i]) APMPBCell(std::move(items_[i]));
        items_[i].~APMPBCell();
    }
    if (heap_ && items_) ::operator delete(items_);
    items_ = items;
    capacity_ = static_cast<std::uint32_t>(count);
    heap_ = arena == nullptr;
}

APMPBCell& APMPBList::append(APMPBArena* arena) {
    if (size_ == capacity_) reserve(std::max<std::size_t>(4, std::size_t{capacity_} * 2), arena);
    return *new (&items_[size_++]) APMPBCell();
}

void APMPBCells::reset(std::size_t count) {
    for (APMPBCell& cell : *this) cell.~APMPBCell();
    if (heap_ && cells_) ::operator delete(cells_);
    cells_ = nullptr;
    size_ = 0;
    heap_ = false;
    if (count == 0) return;
    cells_ = static_cast<APMPBCell*>(::operator new(count * sizeof(APMPBCell)));
    for (std::size_t i = 0; i < count; ++i) new (&cells_[i]) APMPBCell();
    size_ = static_cast<std::uint32_t>(count);
    heap_ = true;
}
