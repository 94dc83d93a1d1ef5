/* The self-registration entries of the recording server. */
#include "RecordingServer.h"

#include "kxplugin.h"

#define E_FAIL_RESULT ((long)0x80004005L)

KX_EXPORT long KXAPI DllRegisterServer(void) { return RecordCall('+') == 0 ? 0 : E_FAIL_RESULT; }

KX_EXPORT long KXAPI DllUnregisterServer(void) { return RecordCall('-') == 0 ? 0 : E_FAIL_RESULT; }
