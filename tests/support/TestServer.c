/* A COM server stand-in: registration succeeds, unregistration reports E_FAIL. */
#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

EXPORT long DllRegisterServer(void) { return 0; }
EXPORT long DllUnregisterServer(void) { return (long)0x80004005L; }
