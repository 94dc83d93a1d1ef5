// The vendor's signing step of a build: a command of the vendor's choice (such as a code signing
// tool) run on the finished main package, after which the package must still be one the engine
// accepts. A signature is appended after the package trailer, and the engine looks for the
// trailer only within the last 64 KiB of its file, so a signing tool can make a package unusable.
//
// The command runs through the system's shell (sh on Linux, cmd on Windows) in the package's
// folder. Every "{}" in it stands for the package's file name, quoted for that shell; without
// "{}" the quoted name is appended after a space. Failures throw KxError naming the command or
// what the engine would find wrong.
#pragma once

#include <string>

#include "package/TrailerLayout.h"

// The command line run for a package named fileName (a name without folder).
std::string SigningCommandLine(const std::string& command, const std::string& fileName,
                               bool windowsShell);

// Runs the command on the package at path (Windows form) and checks the result against the
// trailer numbers the package was built with.
void SignPackage(const std::string& path, const std::string& command, bool windowsShell,
                 const TTrailerNumbers& built);
