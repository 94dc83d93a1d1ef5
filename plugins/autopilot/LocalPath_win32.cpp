#include "LocalPath.h"

namespace autopilot {

std::string LocalPath(const std::string& enginePath) { return enginePath; }

}  // namespace autopilot
