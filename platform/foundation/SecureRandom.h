// Randomness: secure bytes from the kernel (getrandom) and a uniform integer source, each
// with a hook for tests (forced failure, fixed seed).
#pragma once

#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <optional>

class SecureRandom {
public:
    // Fills `count` bytes; false with *errorCode (an errno value) when the kernel refuses.
    [[nodiscard]] static bool randomBytes(void* buffer, std::size_t count, int* errorCode = nullptr);
    [[nodiscard]] static std::optional<NSData> randomData(std::size_t count, int* errorCode = nullptr);
    [[nodiscard]] static std::optional<std::uint64_t> randomUInt64(int* errorCode = nullptr);
    // Makes randomBytes fail with `error` (an errno value) until called again with 0.
    static void setFailureForTesting(int error);

    // A uniformly distributed 32-bit value (arc4random), and one below `upperBound` without
    // modulo bias (arc4random_uniform; 0 when upperBound < 2). These never fail.
    static std::uint32_t random();
    static std::uint32_t uniform(std::uint32_t upperBound);
    // Makes random() and uniform() a repeatable sequence (std::mt19937) until cleared.
    static void seedForTesting(std::uint32_t seed);
    static void clearSeedForTesting();
};
