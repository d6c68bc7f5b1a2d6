// libFuzzer target over the string-table reader (".strings" files in UTF-8, UTF-16 or as property
// lists): any input gives a table or a problem, never a crash, and a table holds only UTF-8 text.
#include "platform/foundation/NSString.h"
#include "platform/foundation/StringsFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string problem;
    const auto table = stringsTableWithData(NSData(data, data + size), &problem);
    if (!table) {
        if (problem.empty()) std::abort();
        return 0;
    }
    for (const auto& [key, value] : *table) {
        if (!NSString::isValidUTF8(key)) std::abort();
        if (value.isString() && !NSString::isValidUTF8(value.string())) std::abort();
    }
    return 0;
}
