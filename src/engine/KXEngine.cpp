// The process entry of the setup engine. A fault that nothing caught is reported on standard
// output, never in a box: the process may be running unattended.
#include <cstdio>
#include <exception>

#include "engine/Main.h"
#include "os/os.h"

int main() {
  os::HardenLibrarySearch();
  int code = -1;
  try {
    code = RunSetup();
  } catch (const std::exception& error) {
    std::printf("Runtime error: %s\n", error.what());
  } catch (...) {
    std::printf("Runtime error\n");
  }
  os::ExitProcess(code);
}
