#include "KitFiles.h"

#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

// The kit's folders relative to the installed kxbuild; the build passes those of its install
// rules (with forward slashes), so that a kit installed with other GNU folder names still finds
// itself.
#ifndef KX_KIT_LIBRARY_FOLDER
#define KX_KIT_LIBRARY_FOLDER "../lib/kxsetup"
#endif
#ifndef KX_KIT_LANGUAGE_FOLDER
#define KX_KIT_LANGUAGE_FOLDER "../share/kxsetup/lng"
#endif

namespace {

std::string KitFolder(const char* relative) { return ReplaceAll(relative, "/", "\\"); }

// The stub of the build tree is named as the program; the kit names the Windows stubs by target
// so that they cannot be mistaken for one another once copied out.
std::string KitStubName(const std::string& target) {
  return target == "host" ? "kxsetup" : "kxsetup-" + target + ".exe";
}

}  // namespace

std::vector<std::string> KitStubCandidates(const std::string& kxbuildFolder,
                                           const std::string& target) {
  const std::string folder = WithTrailingBackslash(kxbuildFolder);
  return {folder + (target == "host" ? "kxsetup" : "kxsetup.exe"),
          folder + KitFolder(KX_KIT_LIBRARY_FOLDER) + "\\" + target + "\\" + KitStubName(target)};
}

std::vector<std::string> KitLanguageFolderCandidates(const std::string& kxbuildFolder) {
  const std::string folder = WithTrailingBackslash(kxbuildFolder);
  // "lng" and "..\lng": a folder copied by hand; "..\..\..\lng": the source tree, when kxbuild
  // runs from <repo>/build/<preset>/bin.
  return {folder + "lng", folder + "..\\lng", folder + KitFolder(KX_KIT_LANGUAGE_FOLDER),
          folder + "..\\..\\..\\lng"};
}
