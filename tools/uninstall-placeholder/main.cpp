// The "Uninstall.exe" that packages carry until the real uninstaller exists: an installation
// deploys it so that the uninstall entry leads somewhere, and it says plainly that it cannot
// uninstall. A box on Windows; standard error on the host, where the OS layer writes boxes.
#include "os/os.h"

int main() {
  os::HardenLibrarySearch();
  os::MessageBox(nullptr, "This version cannot uninstall yet.", "Uninstall",
                 os::kMbOk | os::kMbIconStop);
  os::ExitProcess(-1);
}
