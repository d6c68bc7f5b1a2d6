// Running the experiments' closures on their serial queues: an exception escaping one is
// logged with the queue's message code, and dropped (async) or raised again to the caller (sync).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class DispatchQueue;

void APMEDispatchAsync(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block,
                       std::int64_t exceptionCode, const char* exceptionMessage);
void APMEDispatchSync(const std::shared_ptr<DispatchQueue>& queue, const std::function<void()>& block,
                      std::int64_t exceptionCode, const char* exceptionMessage);
