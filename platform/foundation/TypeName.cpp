#include "platform/foundation/TypeName.h"

#include <cxxabi.h>

#include <cstdlib>

std::string readableTypeName(const char* mangled) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    return name;
}
