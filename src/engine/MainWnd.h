// The engine's hidden main window: the owner of the engine's plain error and warning boxes, the
// receiver of the end of the Windows session, and the road by which an event raised on another
// thread reaches the plug-ins on the main thread (os::SendToMainThread, which the window serves
// wherever the main thread dispatches messages).
//
// The driver creates it among its first steps and destroys it in its clean-up block, on the main
// thread; every function here is for the main thread only.
#pragma once

#include <cstdint>
#include <functional>

// Registers the class "KxanMainWindow" with the program's icon "MAINICON" and creates the window,
// which from then on owns the plain error and warning boxes. crossThread is called on the main
// thread with each record sent from another thread, and its answer goes back to the sender.
// False when the class cannot be registered, after the plain error box "Cannot register main
// window class!", or when the window cannot be made (without a box: the driver says so).
bool CreateMainWindow(std::function<intptr_t(void*)> crossThread);
// Destroys the window and releases the icon; nothing when no window exists.
void DestroyMainWindow();

// The window's answers to the end of the Windows session (on the host they are never asked).
// Whether the session may end: only while a step that can be resumed runs (InstallState not
// isUnknown) and the run is not itself a resumed one. Then the session is marked as ending
// (SessionEnding) and every wait for a started program ends (StopWaiting).
bool SessionMayEnd();
// The session ends (ending) or goes on after all: when it ends, what must happen at the next
// start of Windows is registered (RegisterResume).
void SessionEnds(bool ending);
