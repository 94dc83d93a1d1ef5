/* A library whose only purpose is its version resource (VersionedModule.rc): the file the version
   readers are checked against, built by the real resource compiler and linker. */
__declspec(dllexport) int VersionedModuleAnswer(void) { return 42; }
