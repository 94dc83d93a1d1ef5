// Windows names for Linux paths, the host OS layer's view of the machine.
//
// The machine root is $KX_ROOT (default ~/.local/share/kxsetup/machine). Drive C: is
// <root>/drive_c and drive Z: is "/", so every Linux path has a Windows name. Existing path
// components are found case-insensitively; new ones keep their case. Used by the host OS layer
// only.
#pragma once

#include <string>

namespace os::host {

// The machine root, created with its Windows skeleton (drive_c/windows/system32, temp, ...)
// on first use.
const std::string& MachineRoot();

// The login name, which Wine also uses for the profile folder (C:\users\NAME).
std::string HostUserName();

// Re-reads $KX_ROOT; for tests that give every case its own machine.
void ResetMachineRoot();

// "C:\a\b" -> "<root>/drive_c/a/b", "Z:\tmp\x" -> "/tmp/x". A relative path is taken against the
// current directory; a path that is already a Linux path (begins with "/") is kept. Components
// are resolved case-insensitively against what exists.
std::string ToUnixPath(const std::string& windowsPath);

// "/tmp/x" -> "Z:\tmp\x"; a path below <root>/drive_c -> "C:\...".
std::string ToWindowsPath(const std::string& unixPath);

}  // namespace os::host
