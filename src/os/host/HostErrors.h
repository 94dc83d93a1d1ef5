// The host layer's one failure recorder. Every function of the layer that fails records why here,
// as the calling thread's last error, which os::LastErrorMessage() returns; each recorder returns
// false, so that a failing function ends with `return Fail(...)`. Used by the host layer only.
#pragma once

#include <cerrno>
#include <string>

namespace os::host {

// The system's text for an errno value, in the words Windows uses where the host emulates a
// Windows condition (a file held by another handle).
std::string ErrorText(int error);

// Records context + ": " + the text of error.
bool Fail(const std::string& context, int error = errno);
// Records context + ": " + reason, for failures that have no errno value.
bool FailWith(const std::string& context, const std::string& reason);
// Puts context before the failure just recorded by a lower part of the layer.
bool FailInContext(const std::string& context);

}  // namespace os::host
