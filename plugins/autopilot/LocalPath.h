// Where a path the engine gives (Windows form: "C:\...", "Z:\tmp\...") lies for the C runtime of
// the process the plug-in runs in. On Windows that is the path itself; on the Linux host the same
// mapping as the engine's OS layer (drive C: under $KX_ROOT, Z: the root), so that the plug-in's
// files land where the engine would put them. Chosen by CMake per target. Any thread.
#pragma once

#include <string>

namespace autopilot {

std::string LocalPath(const std::string& enginePath);

}  // namespace autopilot
