// libFuzzer target over the JSON reader: whatever reads must write, and what it writes must read
// back equal.
#include "platform/foundation/NSJSONSerialization.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NSErrorPtr error;
    const Value value = NSJSONSerialization::JSONObjectWithData(NSData(data, data + size),
                                                                NSJSONReadingFragmentsAllowed, &error);
    if (error) return 0;
    NSErrorPtr writeError;
    const NSData written = NSJSONSerialization::dataWithJSONObject(value, NSJSONWritingFragmentsAllowed, &writeError);
    if (written.empty() || writeError) std::abort();
    NSErrorPtr readError;
    const Value back = NSJSONSerialization::JSONObjectWithData(written, NSJSONReadingFragmentsAllowed, &readError);
    if (readError || !(back == value)) std::abort();
    return 0;
}
