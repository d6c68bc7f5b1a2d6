// Bytes of string cells: copied into an arena or onto the heap, freed only from the heap.
#include "analytics/proto/APMPBBytes.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

APMPBBytes::APMPBBytes(std::string_view bytes, APMPBArena* arena) : APMPBBytes(ofLength(bytes.size(), arena)) {
    if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
}

APMPBBytes APMPBBytes::ofLength(std::size_t length, APMPBArena* arena) {
    if (length > UINT32_MAX) {
        std::fprintf(stderr, "APMPBBytes: string too large\n");
        std::abort();
    }
    APMPBBytes bytes;
    bytes.size_ = static_cast<std::uint32_t>(length);
    bytes.heap_ = arena == nullptr;
    if (length > 0) bytes.data_ = static_cast<char*>(arena ? arena->allocate(length, 1) : ::operator new(length));
    return bytes;
}

APMPBBytes& APMPBBytes::operator=(APMPBBytes&& other) noexcept {
    if (this != &other) {
        this->~APMPBBytes();
        new (this) APMPBBytes(std::move(other));
    }
    return *this;
}

APMPBBytes::~APMPBBytes() {
    if (heap_ && data_) ::operator delete(data_);
}
