/* Host: the host layer's registry lives in the engine's process, out of a loaded library's reach,
 * so each call is a line "<sign><library's path>" appended to the file that
 * $KX_TEST_SERVER_CALLS names, or to the file beside the library with ".calls" after its name. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

#include "RecordingServer.h"

int RecordCall(char sign) {
  Dl_info self;
  char beside[4096];
  const char* target = getenv("KX_TEST_SERVER_CALLS");
  if (!dladdr((void*)&RecordCall, &self) || !self.dli_fname) return 1;
  if (!target || !*target) {
    if (snprintf(beside, sizeof beside, "%s.calls", self.dli_fname) >= (int)sizeof beside) return 1;
    target = beside;
  }
  FILE* calls = fopen(target, "a");
  if (!calls) return 1;
  const int written = fprintf(calls, "%c%s\n", sign, self.dli_fname);
  return fclose(calls) == 0 && written > 0 ? 0 : 1;
}
