// The host's waits of the main thread. The host has no window messages: the main window is a
// queue of the sends other threads make to the main thread (window_host.cpp), and every wait of
// the main thread serves that queue, as every wait of the Windows engine's main thread dispatches
// its messages. Used by the host layer only.
#pragma once

#include <cstdint>

namespace os::host {

// Sleeps for milliseconds. On the main thread the sends that are waiting or arrive meanwhile are
// served at once; the sleep still lasts its full time.
void SleepServing(uint32_t milliseconds);

}  // namespace os::host
