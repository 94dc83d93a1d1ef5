// The waits of the main thread on Windows. A thread that sends to a window blocks until the
// window's thread takes the message, and a plain wait takes none; so every wait of the main thread
// goes through here and dispatches the messages sent to it meanwhile. Used by the Windows layer
// only.
#pragma once

#include "os/win32/WindowsApi.h"

namespace os::win32 {

// Waits up to milliseconds for handle to be signalled (for the time alone when handle is null);
// true when it was. On the main thread the messages sent from other threads are dispatched at
// once meanwhile; the wait still lasts its full time.
bool WaitServing(HANDLE handle, DWORD milliseconds);

}  // namespace os::win32
