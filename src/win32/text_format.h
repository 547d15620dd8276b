// Formatted output to a buffer, for the Windows build's own C runtime
// (win32/runtime.cpp): the printf conversions the utility uses, with the C
// library's rules for flags, width, precision and truncation.
//
// Plain C++ with no Windows dependence, so that the native tests hold it
// against the host's C library.
#pragma once

#include <cstdarg>
#include <cstddef>

// Writes at most size - 1 characters of the formatted text and a
// terminating zero (nothing when size is 0); returns the length the whole
// text has. Conversions: d i u o x X c s and %%, flags - 0 + space #, width
// and precision (numbers or *), sizes hh h l ll z j t. Anything else after
// a % is copied as it stands.
int FormatText(char* out, size_t size, const char* format, va_list args);
