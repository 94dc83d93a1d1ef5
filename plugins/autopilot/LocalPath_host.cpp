#include "LocalPath.h"

#include "os/host/HostPaths.h"

namespace autopilot {

// The plug-in carries its own copy of the host layer's mapping (HostPaths.cpp is compiled into
// it): a plug-in cannot reach into the engine's symbols.
std::string LocalPath(const std::string& enginePath) {
  return enginePath.empty() ? enginePath : os::host::ToUnixPath(enginePath);
}

}  // namespace autopilot
