#include "install/Servers.h"

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "install/Install.h"
#include "install/Log.h"
#include "support/zrFileUtils.h"
#include "support/zrShell.h"
#include "support/Errors.h"

namespace {

constexpr const char* kRegistrar = "regsvr32.exe";

// The message names the program the user would run, so that a failed registration can still be
// made by hand once the installation has finished.
void ReportFailure(const std::string& file) {
  ErrorBox("Server registering error",
           Format("Cannot register server!\r\rAfter finishing installation try to register server "
                  "manually:\r%s \"%s\"",
                  kRegistrar, file.c_str()));
}

// A system without the registrar gets the one the package carries, so that the manual command
// the error box suggests can work.
void ProvideRegistrar() {
  const std::string packageFolder = FirstPackageFolder();
  if (packageFolder.empty()) return;
  const std::string source = packageFolder + kRegistrar;
  const std::string system = GetVariable(&MainDatabase(), "System", "");
  if (system.empty() || !FileExists(source)) return;
  const std::string target = WithTrailingBackslash(system) + kRegistrar;
  if (!FileExists(target)) CopyFileWithProgress(source, target, nullptr, false);
}

}  // namespace

void RegisterServers() {
  TInstallActions& actions = InstallActions();
  const int count = actions.Count();
  for (int index = 0; index < count && index < actions.Count(); ++index) {
    auto* file = dynamic_cast<TInstallFile*>(actions.Action(index));
    if (!file || !file->IsServer || file->Removed) continue;
    const std::string path = file->FileName;
    KxPathRecord record{reinterpret_cast<kx_ptr>(path.c_str()), 0};
    if (!BeforeProcessItem(KX_LIST_SERVERS, &record)) continue;
    // A registration that fails may still have left part of itself behind.
    file->ServerRegistered = true;
    if (!RegisterServer(path)) ReportFailure(path);
    AfterProcessItem(KX_LIST_SERVERS, &record);
  }
}

void ServerPhase() {
  if (!BeforeProcessItems(KX_LIST_SERVERS)) return;
  ProvideRegistrar();
  RegisterServers();
  AfterProcessItems(KX_LIST_SERVERS);
}
