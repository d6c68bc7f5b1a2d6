// The two outputs of the message layer: the system log for accessor misuse, standard output for codec failures.
#pragma once

#include <string>

// One line to the system log (the process's diagnostics here), printf-formatted.
void APMPBSystemLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Text to standard output exactly as formatted (callers add the line break where it belongs).
void APMPBPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
