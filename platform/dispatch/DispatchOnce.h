// Once-only initialisation, thread-safe, over std::call_once.
#pragma once

#include <mutex>
#include <utility>

using dispatch_once_t = std::once_flag;

// Runs `block` the first time any thread passes `token`; the others wait until it has run.
template <class Block>
void dispatch_once(dispatch_once_t& token, Block&& block) {
    std::call_once(token, std::forward<Block>(block));
}
