// Block sizes of a tree's arena, chosen so that freed arenas are reused rather than returned to the system.
#include "analytics/proto/APMPBArena.h"

#include <algorithm>
#include <new>
#include <utility>

namespace {

// Once the C library has seen a block of up to 32 MiB freed, it keeps blocks of that size
// for the next allocation instead of returning them to the system, as long as the memory
// freed together stays under twice the largest one. Within that, the next decode reuses
// the same memory instead of having its pages faulted in anew.
constexpr std::size_t kLargestBlock = (std::size_t{32} << 20) - (std::size_t{64} << 10);
constexpr std::size_t kSmallestBlock = 1024;

}  // namespace

APMPBArena::APMPBArena(std::size_t firstBlock) : nextBlock_(std::clamp(firstBlock, kSmallestBlock, kLargestBlock)) {}

APMPBArena::~APMPBArena() {
    while (last_) ::operator delete(std::exchange(last_, last_->previous));
}

std::size_t APMPBArena::firstBlockFor(std::size_t length) {
    // Records of small fields take about eleven times their wire bytes; longer strings less.
    return length > kLargestBlock / 12 ? kLargestBlock : std::max(kSmallestBlock, length * 12);
}

void* APMPBArena::allocateInNewBlock(std::size_t size, std::size_t alignment) {
    // Doubling keeps all of a tree's blocks together under twice its largest one.
    std::size_t bytes = std::max(nextBlock_, sizeof(Block) + size + alignment);
    nextBlock_ = std::min(nextBlock_ * 2, kLargestBlock);
    auto* block = static_cast<Block*>(::operator new(bytes));
    block->previous = last_;
    last_ = block;
    next_ = reinterpret_cast<std::uintptr_t>(block) + sizeof(Block);
    end_ = reinterpret_cast<std::uintptr_t>(block) + bytes;
    return allocate(size, alignment);
}
