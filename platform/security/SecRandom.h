// Cryptographically secure random bytes from the system generator.
#pragma once

#include <cstddef>

struct SecRandomGenerator;
using SecRandomRef = const SecRandomGenerator*;
inline constexpr SecRandomRef kSecRandomDefault = nullptr;

// errSecSuccess (0) when `count` bytes were written; -1 with errno set when the generator failed.
[[nodiscard]] int SecRandomCopyBytes(SecRandomRef rnd, std::size_t count, void* bytes);
