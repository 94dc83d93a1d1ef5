// The Windows layer's one failure recorder. Every function of the layer that fails records why
// here, as the calling thread's last error, which os::LastErrorMessage() returns; each recorder
// returns false, so that a failing function ends with `return Fail(...)`. Used by the Windows
// layer only.
#pragma once

#include <string>

#include "os/win32/WindowsApi.h"

namespace os::win32 {

// The system's text for an error code, without the final full stop and line break.
std::string SystemMessage(DWORD code);

// Records context + ": " + the system's text for code (by default the thread's last error).
bool Fail(const std::string& context, DWORD code = GetLastError());
// Records context + ": " + reason, for failures the system gives no code for.
bool FailWith(const std::string& context, const std::string& reason);

}  // namespace os::win32
