// Where kxbuild looks for the engine's own files when neither the command line nor the project
// names them: beside itself when it runs from a build tree (build/<preset>/bin, with plugins/
// beside bin/ and the language files in the source tree), or in the installed kit, laid out as
//
//   bin/kxbuild
//   <libdir>/kxsetup/<target>/kxsetup | kxsetup-win32.exe | kxsetup-win64.exe
//   <libdir>/kxsetup/<target>/Uninstall.exe
//   <libdir>/kxsetup/<target>/plugins/*.dll
//   <datadir>/kxsetup/lng/*.lng
//
// The kit's folders are taken relative to kxbuild's own folder, so an installed kit can be moved
// as a whole. Paths are in Windows form (backslashes), as everywhere in kxbuild.
#pragma once

#include <string>
#include <vector>

// The engine stubs for target ("win32", "win64" or "host") that kxbuild tries, in order: the one
// of its own build beside it, then the kit's.
std::vector<std::string> KitStubCandidates(const std::string& kxbuildFolder,
                                           const std::string& target);

// The folders tried for the engine's language files, in order.
std::vector<std::string> KitLanguageFolderCandidates(const std::string& kxbuildFolder);
