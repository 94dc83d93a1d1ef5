// The one include of <windows.h> in the program. The OS layer's own names (os::MessageBox,
// os::DeleteFile, ...) collide with the API's A/W macros, so those macros are removed here and
// the implementation calls the ANSI functions by their full names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shlobj.h>

#undef MessageBox
#undef DeleteFile
#undef FindResource
#undef GetFileAttributes
#undef SetFileAttributes
#undef GetCurrentDirectory
#undef SetCurrentDirectory
#undef CreateFile
#undef CreateProcess
#undef ShellExecute
#undef MoveFile
#undef SetEnvironmentVariable
#undef ExitWindows
#undef GetDiskFreeSpaceEx
#undef RegDeleteKey
#undef AddFontResource
