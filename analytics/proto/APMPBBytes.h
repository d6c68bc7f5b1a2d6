// The bytes of a string or bytes cell, taken from a decoded tree's arena or owned on the heap.
#pragma once

#include "analytics/proto/APMPBArena.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

// A null arena means the heap.
class APMPBBytes {
public:
    // A copy of `bytes`.
    APMPBBytes(std::string_view bytes, APMPBArena* arena);
    // `length` bytes for the caller to fill.
    static APMPBBytes ofLength(std::size_t length, APMPBArena* arena);
    APMPBBytes(APMPBBytes&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)), heap_(other.heap_) {}
    APMPBBytes& operator=(APMPBBytes&& other) noexcept;
    ~APMPBBytes();

    char* data() { return data_; }
    const char* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::string_view view() const { return {data_, size_}; }

private:
    APMPBBytes() = default;
    char* data_ = nullptr;
    std::uint32_t size_ = 0;
    bool heap_ = false;
};
