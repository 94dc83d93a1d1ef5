/* A library without the unpack library's exports, for the test of that failure. */
#ifdef _WIN32
__declspec(dllexport)
#endif
int KxTestNothing(void) { return 0; }
