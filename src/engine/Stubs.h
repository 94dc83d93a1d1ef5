// Stand-ins for the operations that the driver calls but that other subsystems will provide: the
// previous run's install log for repair mode. It does the least that lets a run go on; it is
// replaced, under the same name, by the subsystem that owns it. Main thread only.
#pragma once

#include <cstdint>
#include <string>

class TkxPackage;

// The install log of the previous run, which repair mode reads to remove old references.
std::string& PreviousLogPath();
