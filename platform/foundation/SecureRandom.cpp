// Kernel randomness through getrandom(2), with the test hooks behind one lock.
#include "platform/foundation/SecureRandom.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <random>

namespace {

std::atomic<int> forcedError{0};

struct Seeded {
    Mutex mutex;
    std::optional<std::mt19937> engine GUARDED_BY(mutex);
};

Seeded& seeded() {
    static Seeded s;
    return s;
}

bool kernelBytes(void* buffer, std::size_t count, int* errorCode) {
    auto* p = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        const ssize_t n = getrandom(p, count, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errorCode) *errorCode = errno;
            return false;
        }
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool SecureRandom::randomBytes(void* buffer, std::size_t count, int* errorCode) {
    if (const int error = forcedError.load()) {
        if (errorCode) *errorCode = error;
        errno = error;
        return false;
    }
    return kernelBytes(buffer, count, errorCode);
}

std::optional<NSData> SecureRandom::randomData(std::size_t count, int* errorCode) {
    NSData data(count);
    if (!randomBytes(data.data(), count, errorCode)) return std::nullopt;
    return data;
}

std::optional<std::uint64_t> SecureRandom::randomUInt64(int* errorCode) {
    std::uint64_t value = 0;
    if (!randomBytes(&value, sizeof value, errorCode)) return std::nullopt;
    return value;
}

void SecureRandom::setFailureForTesting(int error) { forcedError.store(error); }

std::uint32_t SecureRandom::random() {
    {
        Seeded& s = seeded();
        MutexLock lock(s.mutex);
        if (s.engine) return static_cast<std::uint32_t>((*s.engine)());
    }
    std::uint32_t value = 0;
    if (kernelBytes(&value, sizeof value, nullptr)) return value;
    // getrandom only fails on kernels without it; random_device reads the same pool another way.
    static Mutex deviceMutex;
    MutexLock lock(deviceMutex);
    static std::random_device device GUARDED_BY(deviceMutex);
    return device();
}

std::uint32_t SecureRandom::uniform(std::uint32_t upperBound) {
    if (upperBound < 2) return 0;
    // Values below 2^32 mod upperBound would make the low results likelier: draw again.
    const std::uint32_t minimum = static_cast<std::uint32_t>(-upperBound) % upperBound;
    for (;;) {
        const std::uint32_t r = random();
        if (r >= minimum) return r % upperBound;
    }
}

void SecureRandom::seedForTesting(std::uint32_t seed) {
    Seeded& s = seeded();
    MutexLock lock(s.mutex);
    s.engine.emplace(seed);
}

void SecureRandom::clearSeedForTesting() {
    Seeded& s = seeded();
    MutexLock lock(s.mutex);
    s.engine.reset();
}
