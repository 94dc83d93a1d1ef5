#include "os/host/HostErrors.h"

#include <atomic>
#include <cstring>

#include "os/os.h"

namespace os {
namespace {

thread_local std::string lastError;
std::atomic<FailureObserver> failureObserver{nullptr};

}  // namespace

std::string LastErrorMessage() { return lastError; }

void SetFailureObserver(FailureObserver observer) { failureObserver = observer; }

namespace host {

std::string ErrorText(int error) {
  if (error == EBUSY || error == ETXTBSY) {
    return "The process cannot access the file because it is being used by another process";
  }
  return std::strerror(error);
}

bool Fail(const std::string& context, int error) { return FailWith(context, ErrorText(error)); }

bool FailWith(const std::string& context, const std::string& reason) {
  lastError = context.empty() ? reason : context + ": " + reason;
  if (FailureObserver observer = failureObserver) observer(lastError);
  return false;
}

bool FailInContext(const std::string& context) { return FailWith(context, lastError); }

}  // namespace host
}  // namespace os
