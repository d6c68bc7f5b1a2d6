// The in-memory record of one protocol message: one value cell per field, reached by field index.
#pragma once

#include "analytics/proto/APMPBArena.h"
#include "analytics/proto/APMPBBytes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <variant>

class APMPBMessageSchema;
struct APMPBMessageInfo;
struct APMPBCell;

// A decoded tree's records, cells, lists and strings are carved from one arena that the top
// record owns, so a decode makes a handful of allocations and the tree goes at once. Records
// below the top one are never changed after decoding (accessors hand out copies), so nothing
// in the arena needs its destructor run. Below, a null arena means the heap.

// Deletes a record made on the heap; a record made in an arena goes with its arena.
struct APMPBRecordDelete {
    void operator()(APMPBMessageInfo* info) const;
};
using APMPBRecordPtr = std::unique_ptr<APMPBMessageInfo, APMPBRecordDelete>;

// A repeated field's items. The caller names the memory each growth takes; the list frees
// what it took from the heap.
class APMPBList {
public:
    APMPBList() = default;
    APMPBList(APMPBList&& other) noexcept { *this = std::move(other); }
    APMPBList& operator=(APMPBList&& other) noexcept;
    ~APMPBList() { release(); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return capacity_; }
    APMPBCell* begin() { return items_; }
    APMPBCell* end();
    const APMPBCell* begin() const { return items_; }
    const APMPBCell* end() const;
    APMPBCell& operator[](std::size_t i);
    const APMPBCell& operator[](std::size_t i) const;

    void reserve(std::size_t count, APMPBArena* arena);
    // A new absent item at the end.
    APMPBCell& append(APMPBArena* arena);

private:
    void release();
    APMPBCell* items_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ : 31 = 0;
    std::uint32_t heap_ : 1 = 0;
};

// One field's or one list item's value. Integer types sit in the 64-bit word (bool as 0/1,
// 32-bit values zero-extended), float and double by their bits; strings and bytes as bytes
// (a present empty string is an empty string, never "no data"); a message as its own record,
// or, for an item of a repeated message field, as its checked wire bytes; a repeated field as
// its list, made empty with the record and kept until the record goes.
using APMPBCellValue = std::variant<std::monostate, std::uint64_t, APMPBBytes, APMPBRecordPtr, APMPBList>;
struct APMPBCell : APMPBCellValue {
    using APMPBCellValue::APMPBCellValue;
    using APMPBCellValue::operator=;
};

inline APMPBCell* APMPBList::end() { return items_ + size_; }
inline const APMPBCell* APMPBList::end() const { return items_ + size_; }
inline APMPBCell& APMPBList::operator[](std::size_t i) { return items_[i]; }
inline const APMPBCell& APMPBList::operator[](std::size_t i) const { return items_[i]; }

// A record's cells: a fixed number, made with the record.
class APMPBCells {
public:
    APMPBCells() = default;
    APMPBCells(const APMPBCells&) = delete;
    APMPBCells& operator=(const APMPBCells&) = delete;
    ~APMPBCells() { reset(0); }

    // Replaces the cells with `count` absent ones on the heap.
    void reset(std::size_t count);
    // Takes cells made by the caller in an arena, right after the record.
    void adopt(APMPBCell* cells, std::size_t count) {
        cells_ = cells;
        size_ = static_cast<std::uint32_t>(count);
        heap_ = false;
    }
    bool inArena() const { return cells_ && !heap_; }

    std::size_t size() const { return size_; }
    APMPBCell& operator[](std::size_t i) { return cells_[i]; }
    const APMPBCell& operator[](std::size_t i) const { return cells_[i]; }
    APMPBCell* begin() { return cells_; }
    APMPBCell* end() { return cells_ + size_; }
    const APMPBCell* begin() const { return cells_; }
    const APMPBCell* end() const { return cells_ + size_; }

private:
    APMPBCell* cells_ = nullptr;
    std::uint32_t size_ = 0;
    bool heap_ = false;
};

struct APMPBMessageInfo {
    APMPBMessageInfo() = default;
    APMPBMessageInfo(const APMPBMessageInfo&) = delete;
    APMPBMessageInfo& operator=(const APMPBMessageInfo&) = delete;

    // The arena of the records decoded below this one; declared first so that it goes last.
    std::unique_ptr<APMPBArena> arena;
    // Null until the record is initialised for a message (APMPBInitMessageInfo).
    const APMPBMessageSchema* schema = nullptr;
    // By field index; std::monostate marks an absent field.
    APMPBCells fields;

    // Made in an arena with its cells: never deleted on its own.
    bool inArena() const { return fields.inArena(); }
    const char* messageID() const;
    const std::uint32_t* fieldTypes() const;
};
