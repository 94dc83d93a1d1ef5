// The Windows version record: what kind of Windows runs, filled once from the OS layer and read
// by the launch checks, the runtime variables and the platform branches of the support library.
// Any thread may read it; RefreshWinVersion only while no other thread does (tests).
#pragma once

#include <string>

#include "os/os.h"

enum class TWinKind {
  kWin32s = 0,
  kWin95 = 1,
  kWin98 = 2,
  kWinNT = 3,
  kWin2000 = 4,
  kWinMe = 5,
  kWinXP = 6,  // and every NT system after 5.0
};

struct TWinVersion {
  TWinKind Kind = TWinKind::kWinXP;
  os::Platform Platform = os::Platform::kWindowsNT;
  int Major = 0;
  int Minor = 0;
  std::string VersionText;  // "%d.%.2d", or "%d.%d" when minor is 0
  int Build = 0;            // on the 9x platform the low 16 bits only
  std::string ServicePack;
  std::string Description;  // "Windows XP 5.01.2600 Service Pack 2"
};

// The record made from version data: a pure function, for tests of every kind of Windows.
TWinVersion MakeWinVersion(const os::VersionData& data);

// The running system's record, filled on first use. RefreshWinVersion reads it again (tests
// that switch the reported platform).
const TWinVersion& WinVersion();
void RefreshWinVersion();

inline bool IsPlatform9x() { return WinVersion().Platform == os::Platform::kWindows9x; }
