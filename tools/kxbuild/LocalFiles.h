// What kxbuild must know about the files of the build machine beyond what the OS layer says:
// where a path leads once every link on it is followed, and whether it leads to a regular file,
// a folder or something else (a pipe, a socket, a device), which would block or deliver bytes
// without end when read. kxbuild refuses such inputs and compares outputs with inputs by these
// final paths, however the paths were written.
//
// One implementation per platform, chosen by CMake: host/ (Linux, through the host OS layer's
// Windows names for Linux paths) and win32/. Paths are in the OS layer's form. Nothing here opens
// a file for reading. Used by kxbuild's main thread.
#pragma once

#include <string>

enum class TLocalKind { kMissing, kFile, kFolder, kSpecial };

struct TLocalFile {
  TLocalKind Kind = TLocalKind::kMissing;
  // What the path leads to, every link followed, "." and ".." resolved; "" when it leads nowhere.
  std::string FinalPath;
  // The folder entry the path names: its folder's final path and its own name as stored (a link
  // there is the entry, since writing to the name replaces the link). "" when the folder does not
  // exist.
  std::string EntryPath;
};

TLocalFile InspectLocalFile(const std::string& path);

// Whether the file system compares names without regard to case (final paths then differ in
// case only when they name the same file).
bool LocalNamesIgnoreCase();
