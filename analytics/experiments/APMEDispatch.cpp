// Closures on the experiments' queues.
#include "analytics/experiments/APMEDispatch.h"

#include "analytics/core/APMCaughtException.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"
#include "platform/dispatch/DispatchQueue.h"

#include <exception>

namespace {

void logException(const std::exception_ptr& exception, std::int64_t code, const char* message) {
    APMEManager::monitor()->logWithLevel(1, code, message, Value(APMCaughtException::fromExceptionPtr(exception)));
}

}  // namespace

void APMEDispatchAsync(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block,
                       std::int64_t exceptionCode, const char* exceptionMessage) {
    queue->async([block = std::move(block), exceptionCode, exceptionMessage] {
        try {
            block();
        } catch (...) {
            logException(std::current_exception(), exceptionCode, exceptionMessage);
        }
    });
}

void APMEDispatchSync(const std::shared_ptr<DispatchQueue>& queue, const std::function<void()>& block,
                      std::int64_t exceptionCode, const char* exceptionMessage) {
    std::exception_ptr failure;
    queue->sync([&] {
        try {
            block();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (failure) {
        logException(failure, exceptionCode, exceptionMessage);
        std::rethrow_exception(failure);
    }
}
