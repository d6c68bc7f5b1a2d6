// The memory of one decoded tree: blocks that are carved front to back and freed together.
#pragma once

#include <cstddef>
#include <cstdint>

class APMPBArena {
public:
    // `firstBlock`: bytes of the first block; later blocks double up to a ceiling.
    explicit APMPBArena(std::size_t firstBlock);
    APMPBArena(const APMPBArena&) = delete;
    APMPBArena& operator=(const APMPBArena&) = delete;
    ~APMPBArena();

    // `size` bytes aligned to `alignment` (a power of two no larger than a pointer's).
    void* allocate(std::size_t size, std::size_t alignment) {
        const std::uintptr_t at = (next_ + alignment - 1) & ~(static_cast<std::uintptr_t>(alignment) - 1);
        if (at > end_ || size > end_ - at) return allocateInNewBlock(size, alignment);
        next_ = at + size;
        return reinterpret_cast<void*>(at);
    }

    // The block size for a tree decoded from `length` bytes.
    static std::size_t firstBlockFor(std::size_t length);

private:
    void* allocateInNewBlock(std::size_t size, std::size_t alignment);

    struct Block {
        Block* previous;
    };
    Block* last_ = nullptr;
    std::size_t nextBlock_;
    std::uintptr_t next_ = 0;
    std::uintptr_t end_ = 0;
};
