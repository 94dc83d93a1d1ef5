// The safe-name rule for names from packages and databases that become part of a path.
#include "support/SafeNames.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SafeNamesTest, EntryNamesMustStayInsideTheirFolderAsTheNamedFile) {
  struct Case {
    std::string name;
    bool safe;
  } cases[] = {
      // Plain relative names, with either separator.
      {"readme.txt", true},
      {"lng\\enu.lng", true},
      {"a\\..b\\c", true},
      {"lng/enu.lng", true},
      {"con-fig.txt", true},
      {"COM10", true},
      {"LPT0.txt", true},
      {"nul_.txt", true},
      {"console", true},
      {".hidden", true},
      {"a b\\c d", true},
      // Climbing out, or anchored anywhere but the folder.
      {"", false},
      {"..\\evil.dll", false},
      {"lng\\..\\..\\x", false},
      {"\\windows\\x", false},
      {"C:\\x", false},
      {"C:x", false},
      {"a\\\\b", false},
      {"a/../../b", false},
      {"/etc/passwd", false},
      {"dir\\", false},
      {"..", false},
      {"a\\.\\b", false},
      {"\\\\server\\share\\x", false},
      {"x::$DATA", false},
      // Devices, whatever the case, extension or folder they stand in.
      {"CON", false},
      {"nul.txt", false},
      {"Com1", false},
      {"lpt9.tar.gz", false},
      {"lng\\AUX.lng", false},
      {"prn\\x.txt", false},
      {"con .txt", false},
      {"COM\xB9", false},
      {"lpt\xB2.log", false},
      // Names Windows would silently change.
      {"readme.txt.", false},
      {"readme.txt ", false},
      {"lng.\\x", false},
      {"lng \\x", false},
      // Characters no Windows name holds.
      {"a*b", false},
      {"a?b", false},
      {"a\"b", false},
      {"a<b", false},
      {"a>b", false},
      {"a|b", false},
      {std::string("a\tb"), false},
      {std::string("a\x01", 2), false},
      // The folder-only entries of the data folder end in ".".
      {"data\\app\\docs\\.", true},
      {"DATA\\app\\.", true},
      {"lng\\.", false},
      {"data\\app\\..\\.", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << c.name;
}

TEST(SafeNamesTest, AFileNameIsOneSafeName) {
  EXPECT_TRUE(IsSafeFileName("docs.kxp"));
  for (const char* name : {"../x/ESC.kxp", "..\\x\\ESC.kxp", "x/y.kxp", "NUL.kxp", "docs .kxp.",
                           "docs.kxp ", ".", "", "c:docs.kxp"}) {
    EXPECT_FALSE(IsSafeFileName(name)) << name;
  }
}

TEST(SafeNamesTest, PathLimitCountsTheWholePath) {
  const std::string folder(250, 'f');
  EXPECT_TRUE(FitsPathLimit(folder, std::string(kMaxPathLength - 250, 'n')));
  EXPECT_FALSE(FitsPathLimit(folder, std::string(kMaxPathLength - 249, 'n')));
}

}  // namespace
