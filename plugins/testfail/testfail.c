/*
 * testfail: a plug-in that fails to load, for the engine's tests of its failure paths. The same
 * source is built once per way of failing, and the library's name says which:
 *
 *   testfail_refuseload.dll  named "testfail"; answers EV_LOAD with 1, so the engine unloads it
 *   testfail_wrongname.dll   names itself "testfail-nomatch", an ID no project uses
 *   testfail_newengine.dll   needs an engine one version newer than this one
 *   testfail_refused.dll     sets the refusal byte of its information record
 *   testfail_crash.dll       named "testfail"; writes through a null pointer at EV_START
 *
 * Apart from that it answers every event with 0.
 */
#include <string.h>

#include "kxplugin.h"

#if defined(KX_TESTFAIL_wrongname)
#define TESTFAIL_NAME "testfail-nomatch"
#else
#define TESTFAIL_NAME "testfail"
#endif

#if defined(KX_TESTFAIL_crash)
/* Read at run time, so that the compiler cannot see the fault coming and turn it into a trap. */
static int* volatile nowhere = 0;
#endif

static kx_ptr KXAPI EventEntry(int32_t number, const char* name, kx_ptr first, kx_ptr second) {
  (void)name;
  (void)first;
  (void)second;
#if defined(KX_TESTFAIL_refuseload)
  if (number == EV_LOAD) return 1;
#elif defined(KX_TESTFAIL_crash)
  if (number == EV_START) *nowhere = 1;
#else
  (void)number;
#endif
  return 0;
}

KX_EXPORT void KXAPI GetPluginInfo(KxPluginInfo* info) {
  if (!info) return;
  info->engineVersion = KX_ENGINE_VERSION;
#if defined(KX_TESTFAIL_newengine)
  info->engineVersion = KX_ENGINE_VERSION + 1;
#endif
#if defined(KX_TESTFAIL_refused)
  info->refused = 1;
#endif
  strncpy(info->name, TESTFAIL_NAME, sizeof info->name - 1);
  info->eventEntry = (kx_ptr)&EventEntry;
}
