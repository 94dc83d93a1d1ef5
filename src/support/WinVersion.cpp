#include "support/WinVersion.h"

#include <cstdio>

#include "support/Errors.h"
#include "support/zrStrUtils.h"

namespace {

TWinKind KindOf9x(int major, int minor) {
  if (major > 4 || (major == 4 && minor >= 90)) return TWinKind::kWinMe;
  if (major == 4 && minor > 0) return TWinKind::kWin98;
  return TWinKind::kWin95;
}

// Only NT 5.0 is Windows 2000: every later NT system (XP, Vista, ... 10, 11) counts as XP, so
// that projects written for XP install on the systems that followed it.
TWinKind KindOfNT(int major, int minor) {
  if (major < 5) return TWinKind::kWinNT;
  if (major == 5 && minor == 0) return TWinKind::kWin2000;
  return TWinKind::kWinXP;
}

TWinKind KindOf(const os::VersionData& data) {
  switch (data.platform) {
    case os::Platform::kWin32s:
      return TWinKind::kWin32s;
    case os::Platform::kWindows9x:
      return KindOf9x(data.major, data.minor);
    case os::Platform::kWindowsNT:
      break;
  }
  return KindOfNT(data.major, data.minor);
}

const char* KindName(TWinKind kind) {
  switch (kind) {
    case TWinKind::kWin32s:
      return "32s";
    case TWinKind::kWin95:
      return "95";
    case TWinKind::kWin98:
      return "98";
    case TWinKind::kWinNT:
      return "NT";
    case TWinKind::kWin2000:
      return "2000";
    case TWinKind::kWinMe:
      return "Me";
    case TWinKind::kWinXP:
      break;
  }
  return "XP";
}

TWinVersion& Record() {
  static TWinVersion record = MakeWinVersion(os::GetVersionData());
  return record;
}

}  // namespace

TWinVersion MakeWinVersion(const os::VersionData& data) {
  TWinVersion version;
  version.Kind = KindOf(data);
  version.Platform = data.platform;
  version.Major = data.major;
  version.Minor = data.minor;
  version.VersionText = Format(data.minor != 0 ? "%d.%.2d" : "%d.%d", data.major, data.minor);
  // The 9x platform keeps the major and minor version in the build number's high word.
  version.Build = data.platform == os::Platform::kWindows9x ? data.build & 0xFFFF : data.build;
  version.ServicePack = data.servicePack;
  version.Description =
      Trim(Format("Windows %s %s.%.4d %s", KindName(version.Kind), version.VersionText.c_str(),
                  version.Build, version.ServicePack.c_str()));
  return version;
}

const TWinVersion& WinVersion() { return Record(); }

void RefreshWinVersion() { Record() = MakeWinVersion(os::GetVersionData()); }
