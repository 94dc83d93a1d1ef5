#include "support/Errors.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::string FormatArgs(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatArgs(format, args);
  va_end(args);
  return text;
}

void ThrowError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatArgs(format, args);
  va_end(args);
  throw KxError(text);
}
