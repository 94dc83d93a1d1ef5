// What kind of program or library a file is, by its first bytes: the engine stub must be a
// program of the target and a plug-in library a library of it (the engine on that target can load
// nothing else). Pure functions on the bytes; any thread.
//
// PE files (Windows): the machine field tells win32 (i386) from win64 (x86-64), the DLL flag of
// the characteristics a library from a program. ELF files stand for the host target; a shared
// object (type ET_DYN) counts as a library, which a position-independent program is as well.
#pragma once

#include <string>

struct TBinaryKind {
  std::string Target;    // "win32", "win64", "host", or "" when the bytes are none of these
  bool Library = false;  // a DLL or shared object rather than a program
};

// head: the file's first bytes (64 KiB are plenty: the PE header lies near the start).
TBinaryKind BinaryKindOf(const std::string& head);

// "a 64-bit Windows DLL", "a Linux program", "no program or library kxbuild knows", ...
std::string DescribeKind(const TBinaryKind& kind);

// What a plug-in library of the target is: "a 32-bit Windows DLL", "a Linux shared object".
std::string PluginKindFor(const std::string& target);
