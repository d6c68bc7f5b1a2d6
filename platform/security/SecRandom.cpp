// Secure random bytes over the kernel generator.
#include "platform/security/SecRandom.h"

#include "platform/foundation/SecureRandom.h"

#include <cerrno>

int SecRandomCopyBytes(SecRandomRef, std::size_t count, void* bytes) {
    int errorCode = 0;
    if (SecureRandom::randomBytes(bytes, count, &errorCode)) return 0;
    errno = errorCode != 0 ? errorCode : EIO;
    return -1;
}
