/* A library without the unpack library's exports, for the test of that failure. */
#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

EXPORT int KxTestNothing(void) { return 0; }
