// The launch checks' rules on every kind of Windows, from version data alone, and their boxes.
#include "engine/LaunchChecks.h"

#include <gtest/gtest.h>

#include <memory>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "support/RunState.h"

namespace {

using os::Platform;

const os::VersionData kWin95{Platform::kWindows9x, 4, 0, 0x040003B6, ""};
const os::VersionData kWin98SE{Platform::kWindows9x, 4, 10, 0x040A08AE, " A "};
const os::VersionData kWinMe{Platform::kWindows9x, 4, 90, 0x045A0BB8, ""};
const os::VersionData kNT351{Platform::kWindowsNT, 3, 51, 1057, ""};
const os::VersionData kNT4{Platform::kWindowsNT, 4, 0, 1381, "Service Pack 6"};
const os::VersionData kWin2000{Platform::kWindowsNT, 5, 0, 2195, ""};
const os::VersionData kWinXP{Platform::kWindowsNT, 5, 1, 2600, ""};
const os::VersionData kWin10{Platform::kWindowsNT, 10, 0, 19045, ""};

struct SupportedCase {
  const char* list;  // as the checks see it: upper-cased
  os::VersionData system;
  bool supported;
};

const SupportedCase kSupportedCases[] = {
    {"", kWin95, true},
    {"", kWin10, true},
    {"NT", kNT351, true},
    {"NT", kNT4, true},
    {"NT", kWin2000, true},
    {"NT", kWinXP, true},
    {"NT", kWin10, true},
    {"NT", kWin98SE, false},
    {"NT4", kNT4, true},
    {"NT4", kNT351, false},
    {"NT4", kWin2000, false},
    {"2K,XP", kWin2000, true},
    {"2K,XP", kWinXP, true},
    {"2K,XP", kWin10, true},  // every NT system after 5.0 is XP for the rules
    {"2K,XP", kNT4, false},
    {"2K", kWinXP, false},
    {"XP", kWin2000, false},
    {"9X", kWin95, true},
    {"9X", kWin98SE, true},
    {"9X", kWinMe, true},
    {"9X", kWinXP, false},
    {"95", kWin95, true},
    {"95", kWin98SE, false},
    {"98", kWin98SE, true},
    {"98", kWinMe, false},
    {"ME", kWinMe, true},
    {"XP", kWinMe, false},
    {"NT", kWinMe, false},
    // Tokens are compared whole: the blank after the comma belongs to the next one.
    {"NT, 9X", kWin95, false},
    {"NT, 9X", kNT4, true},
    {"9X,NT", kNT4, true},
    {"N", kNT4, false},
    {"NTX", kNT4, false},
};

TEST(LaunchChecksTest, SupportedOSAdmitsTheFamiliesItLists) {
  for (const SupportedCase& c : kSupportedCases) {
    const TWinVersion system = MakeWinVersion(c.system);
    EXPECT_EQ(SystemSupported(c.list, system), c.supported)
        << '"' << c.list << "\" on " << system.Description;
  }
}

struct MinimumCase {
  const char* minimum;
  os::VersionData system;
  bool enough;
};

const MinimumCase kMinimumCases[] = {
    {"5", kWin2000, true},
    {"5.1", kWin2000, false},
    {"5.0.2195", kWin2000, true},
    {"5.0.2196", kWin2000, false},
    {"4.0.1381", kNT4, true},
    {"4.0.1382", kNT4, false},
    {"4", kNT351, false},
    {"3.60", kNT4, true},        // a larger major passes whatever follows
    {"5.0.9999", kWinXP, true},  // a larger minor too
    {"6.1", kWin10, true},
    {"10.0.19046", kWin10, false},
    {"11", kWin10, false},
    // A part that is no number takes the system's own value.
    {"x", kWin2000, true},
    {"5.x.1", kWin2000, true},
    {"5.x.9999", kWin2000, false},
    {"5..", kWin2000, true},
    // The 9x build is its low 16 bits: 98 SE is 4.10.2222.
    {"4.10.2222", kWin98SE, true},
    {"4.10.2223", kWin98SE, false},
    {"4.90", kWin98SE, false},
};

TEST(LaunchChecksTest, MinOSVersionComparesMajorMinorAndBuildInTurn) {
  for (const MinimumCase& c : kMinimumCases) {
    const TWinVersion system = MakeWinVersion(c.system);
    EXPECT_EQ(VersionAtLeast(c.minimum, system), c.enough)
        << '"' << c.minimum << "\" on " << system.Description;
  }
}

// Without a language file the boxes still say why the run ends.
class LaunchCheckBoxTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetRunState();
    FreeRunObjects();
    SetVariable(&MainDatabase(), "AppName", "Box Product");
    ConditionsEnabled = true;  // as the driver has them when it runs the checks
  }
  void TearDown() override {
    ConditionsEnabled = false;
    ResetRunState();
    FreeRunObjects();
  }
  // Runs the checks, which must refuse, and whether they printed text (or nothing when empty).
  void ExpectRefusal(const std::string& text) {
    testing::internal::CaptureStderr();
    const bool passed = RunLaunchChecks();
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(passed) << printed;
    if (text.empty()) {
      EXPECT_EQ(printed, "");
    } else {
      EXPECT_NE(printed.find(text), std::string::npos) << printed;
    }
  }
};

TEST_F(LaunchCheckBoxTest, TooOldNamesTheVersionAskedForAndTheApplication) {
  SetVariable(&MainDatabase(), "MinOSVersion", "99.1");
  ExpectRefusal("Version 99.1 or newer is needed for Box Product.");
}

TEST_F(LaunchCheckBoxTest, UnsupportedSystemAndFailedConditionsSayWhy) {
  SetVariable(&MainDatabase(), "SupportedOS", IsPlatform9x() ? "nt" : "9x");
  ExpectRefusal("This operating system is not supported!");

  SetVariable(&MainDatabase(), "SupportedOS", "");
  auto owned = std::make_unique<TkxLaunchCondition>();
  TkxLaunchCondition* condition = owned.get();
  condition->Condition = "0";
  condition->Msg = "%AppName% needs a sunny day.";
  MainDatabase().LaunchConditions->Add(std::move(owned));
  ExpectRefusal("Box Product needs a sunny day.");

  condition->Msg = "";
  ExpectRefusal("");
}

}  // namespace
