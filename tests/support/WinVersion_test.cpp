#include "support/WinVersion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

using os::Platform;

struct Case {
  const char* system;
  os::VersionData data;
  TWinKind kind;
  const char* versionText;
  int build;
  const char* description;
};

const Case kCases[] = {
    {"Win32s",
     {Platform::kWin32s, 1, 30, 0x0A3, ""},
     TWinKind::kWin32s,
     "1.30",
     163,
     "Windows 32s 1.30.0163"},
    {"95",
     {Platform::kWindows9x, 4, 0, 0x040003B6, ""},
     TWinKind::kWin95,
     "4.0",
     950,
     "Windows 95 4.0.0950"},
    {"95 OSR2",
     {Platform::kWindows9x, 4, 0, 0x04000457, " B "},
     TWinKind::kWin95,
     "4.0",
     1111,
     "Windows 95 4.0.1111  B"},
    {"98",
     {Platform::kWindows9x, 4, 10, 0x040A07CE, ""},
     TWinKind::kWin98,
     "4.10",
     1998,
     "Windows 98 4.10.1998"},
    {"98 SE",
     {Platform::kWindows9x, 4, 10, 0x040A08AE, " A "},
     TWinKind::kWin98,
     "4.10",
     2222,
     "Windows 98 4.10.2222  A"},
    {"Me",
     {Platform::kWindows9x, 4, 90, 0x045A0BB8, " "},
     TWinKind::kWinMe,
     "4.90",
     3000,
     "Windows Me 4.90.3000"},
    {"9x above 4",
     {Platform::kWindows9x, 5, 0, 0x05000001, ""},
     TWinKind::kWinMe,
     "5.0",
     1,
     "Windows Me 5.0.0001"},
    {"NT 3.51",
     {Platform::kWindowsNT, 3, 51, 1057, "Service Pack 5"},
     TWinKind::kWinNT,
     "3.51",
     1057,
     "Windows NT 3.51.1057 Service Pack 5"},
    {"NT 4.0",
     {Platform::kWindowsNT, 4, 0, 1381, "Service Pack 6"},
     TWinKind::kWinNT,
     "4.0",
     1381,
     "Windows NT 4.0.1381 Service Pack 6"},
    {"2000",
     {Platform::kWindowsNT, 5, 0, 2195, "Service Pack 4"},
     TWinKind::kWin2000,
     "5.0",
     2195,
     "Windows 2000 5.0.2195 Service Pack 4"},
    {"XP",
     {Platform::kWindowsNT, 5, 1, 2600, "Service Pack 3"},
     TWinKind::kWinXP,
     "5.01",
     2600,
     "Windows XP 5.01.2600 Service Pack 3"},
    {"2003",
     {Platform::kWindowsNT, 5, 2, 3790, ""},
     TWinKind::kWinXP,
     "5.02",
     3790,
     "Windows XP 5.02.3790"},
    // Later systems are XP for the rules, never 2000.
    {"Vista",
     {Platform::kWindowsNT, 6, 0, 6000, ""},
     TWinKind::kWinXP,
     "6.0",
     6000,
     "Windows XP 6.0.6000"},
    {"7",
     {Platform::kWindowsNT, 6, 1, 7601, "Service Pack 1"},
     TWinKind::kWinXP,
     "6.01",
     7601,
     "Windows XP 6.01.7601 Service Pack 1"},
    {"10",
     {Platform::kWindowsNT, 10, 0, 19045, ""},
     TWinKind::kWinXP,
     "10.0",
     19045,
     "Windows XP 10.0.19045"},
    {"NT build above 16 bits",
     {Platform::kWindowsNT, 10, 0, 0x12345, ""},
     TWinKind::kWinXP,
     "10.0",
     0x12345,
     "Windows XP 10.0.74565"},
};

TEST(WinVersionTest, KindTextBuildAndDescriptionForEveryWindows) {
  for (const Case& c : kCases) {
    TWinVersion version = MakeWinVersion(c.data);
    EXPECT_EQ(version.Kind, c.kind) << c.system;
    EXPECT_EQ(version.Platform, c.data.platform) << c.system;
    EXPECT_EQ(version.Major, c.data.major) << c.system;
    EXPECT_EQ(version.Minor, c.data.minor) << c.system;
    EXPECT_EQ(version.VersionText, c.versionText) << c.system;
    EXPECT_EQ(version.Build, c.build) << c.system;
    EXPECT_EQ(version.ServicePack, c.data.servicePack) << c.system;
    EXPECT_EQ(version.Description, c.description) << c.system;
  }
}

TEST(WinVersionTest, MinorVersionsBelowTenArePaddedToTwoDigits) {
  EXPECT_EQ(MakeWinVersion({Platform::kWindowsNT, 5, 1, 0, ""}).VersionText, "5.01");
  EXPECT_EQ(MakeWinVersion({Platform::kWindowsNT, 6, 3, 0, ""}).VersionText, "6.03");
  EXPECT_EQ(MakeWinVersion({Platform::kWindowsNT, 6, 0, 0, ""}).VersionText, "6.0");
  EXPECT_EQ(MakeWinVersion({Platform::kWindowsNT, 6, 123, 0, ""}).VersionText, "6.123");
}

TEST(WinVersionTest, TheRunningRecordFollowsTheOsLayer) {
  RefreshWinVersion();
  TWinVersion expected = MakeWinVersion(os::GetVersionData());
  EXPECT_EQ(WinVersion().Description, expected.Description);
  EXPECT_EQ(WinVersion().Kind, expected.Kind);
  EXPECT_EQ(IsPlatform9x(), expected.Platform == Platform::kWindows9x);
}

#if !defined(_WIN32)
// The host plays whatever $KX_WINVER says; the record is read again only when refreshed.
TEST(WinVersionTest, RefreshPicksUpAnotherPlatform) {
  std::optional<std::string> saved;
  if (const char* value = std::getenv("KX_WINVER")) saved = value;

  setenv("KX_WINVER", "4.10.2222:9x", 1);
  RefreshWinVersion();
  EXPECT_TRUE(IsPlatform9x());
  EXPECT_EQ(WinVersion().Kind, TWinKind::kWin98);
  EXPECT_EQ(WinVersion().Description, "Windows 98 4.10.2222");

  setenv("KX_WINVER", "5.0.2195", 1);
  EXPECT_TRUE(IsPlatform9x());  // not yet refreshed
  RefreshWinVersion();
  EXPECT_FALSE(IsPlatform9x());
  EXPECT_EQ(WinVersion().Kind, TWinKind::kWin2000);

  if (saved) {
    setenv("KX_WINVER", saved->c_str(), 1);
  } else {
    unsetenv("KX_WINVER");
  }
  RefreshWinVersion();
  EXPECT_EQ(WinVersion().Description, MakeWinVersion(os::GetVersionData()).Description);
}
#endif

}  // namespace
