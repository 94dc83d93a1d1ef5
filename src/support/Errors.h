// The engine's error exception: raised for library-level faults (a missing unpack library, XML or
// expression syntax, ...). The run wrapper shows its message in a plain error box and fails the
// run; nothing else catches it except where a caller turns a fault into a false result.
#pragma once

#include <cstdarg>
#include <stdexcept>
#include <string>

class KxError : public std::runtime_error {
 public:
  explicit KxError(const std::string& message) : std::runtime_error(message) {}
};

// Formats like printf and throws KxError with the text.
[[noreturn]] void ThrowError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same over an argument list, for other printf-style functions.
std::string FormatArgs(const char* format, va_list args);
