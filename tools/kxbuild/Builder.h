// The authoring tool's build: a project file and its payload folder become the setup executable
// (engine stub + cabinet + trailer) and one ".kxp" file per further package (cabinet + trailer).
//
// The project file is a project database (root "kx2project") with one build-only element
// <build>; docs/kxbuild.md describes both. Which payload files are packed follows the engine's
// own rule for matching an archive entry to a file item, so that every file the engine can match
// at install time is in the package and nothing else is.
//
// Used by kxbuild's main on its main thread (the XML binding is not thread-safe). Everything
// that is wrong with the project, the payload or the options throws KxError with a message
// naming the offending item; nothing of the failed build is left then, and the packages of an
// earlier build stay as they were (see StagedOutputs.h). An output that is also an input is
// refused. The same inputs always give the same output bytes: nothing is taken from the clock
// (the stored times are those of the input files, in the builder's local time zone).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Options from the command line; an empty text leaves the choice to the project's <build>
// element and then to the default. Paths are as the user typed them (relative to the current
// folder; on Linux also absolute Linux paths).
struct TBuildOptions {
  std::string ProjectFile;
  std::string Output;
  std::string Target;  // "win32", "win64" or "host"
  std::string PayloadFolder;
  std::string StubFile;
  std::string UninstallerFile;  // the program packed as "Uninstall.exe"
  std::string PluginFolder;     // the plug-ins built for the target (<file from="plugins">)
  std::string LanguageFolder;   // the engine's language files (*.lng)
  std::string SignCommand;      // run on the main package once written (see Signing.h)
  std::string Compression;      // "none" or "mszip"
  bool FollowLinks = false;     // pack what payload links lead to outside the payload folder too
  unsigned Jobs = 0;            // threads that compress; 0: one per core
};

// What one written package holds.
struct TBuiltPackage {
  std::string FileName;  // full path
  uint32_t EntryCount = 0;
  uint32_t PresetupSize = 0;
  uint32_t DataSize = 0;
  uint32_t BuiltSize = 0;
};

struct TBuildResult {
  std::vector<TBuiltPackage> Packages;  // the main package first
  std::vector<std::string> Warnings;    // things that are legal but probably not meant
};

// Builds the packages. Throws KxError on every build error; nothing is left half-written then.
TBuildResult BuildProject(const TBuildOptions& options);
