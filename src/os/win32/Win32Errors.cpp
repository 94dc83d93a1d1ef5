#include "os/win32/Win32Errors.h"

#include <atomic>

#include "os/os.h"

namespace os {
namespace {

thread_local std::string lastError;
std::atomic<FailureObserver> failureObserver{nullptr};

}  // namespace

std::string LastErrorMessage() { return lastError; }

void SetFailureObserver(FailureObserver observer) { failureObserver = observer; }

namespace win32 {

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message =
      length && text ? std::string(text, length) : "Error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

bool Fail(const std::string& context, DWORD code) { return FailWith(context, SystemMessage(code)); }

bool FailWith(const std::string& context, const std::string& reason) {
  lastError = context.empty() ? reason : context + ": " + reason;
  if (FailureObserver observer = failureObserver) observer(lastError);
  return false;
}

}  // namespace win32
}  // namespace os
