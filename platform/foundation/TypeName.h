// A C++ type's name as written in the code, from the name typeid gives.
#pragma once

#include <string>

// `mangled` demangled; itself when it does not demangle.
std::string readableTypeName(const char* mangled);
