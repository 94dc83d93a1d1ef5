#include "support/zrUtils.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "os/PeTestImage.h"

namespace {

TEST(CompareVersionsTest, ComparesFourPartsAsUnsignedWords) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  } cases[] = {
      {"1.2", "1.2.0.0", 0},
      {"1.10", "1.9", 1},
      {"1.9", "1.10", -1},
      {"2", "1.99", 1},
      {"1.2.3.4", "1.2.3.5", -1},
      {"", "0.0.0.0", 0},
      // Top bits set in either word: newer, never older.
      {"32768.0", "1.0", 1},
      {"1.0", "32768.0", -1},
      {"1.2.32768", "1.2.1", 1},
      {"65535.65535.65535.65535", "65535.65535.65535.65534", 1},
      // Parts that are not 16-bit numbers count as 0 and never spill into their neighbour.
      {"1.65536", "1.0", 0},
      {"1.65536", "1.65535", -1},
      {"1.x.3", "1.0.3", 0},
      {"-1.0", "0.0", 0},
      {"1..3", "1.0.3", 0},
      {"1.2.3.4.5", "1.2.3.4", 0},
      {"$10.0", "16.0", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareVersions(c.a, c.b), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(CompareVersions(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
  }
}

TEST(VersionTextTest, PartsMapToTheTwoWords) {
  TFileVersion version = VersionFromText("40000.8.65535.3");
  EXPECT_EQ(version.MostSignificant, 0x9C400008u);
  EXPECT_EQ(version.LeastSignificant, 0xFFFF0003u);
  EXPECT_EQ(VersionToText(version), "40000.8.65535.3");
  EXPECT_EQ(VersionToText(VersionFromText("7")), "7.0.0.0");
}

// Installed files with version resources (made-up PE files) and fixed times.
class FileVersionRulesTest : public testing::Test {
 protected:
  static constexpr int64_t kTime = 133000000000000000LL;  // whole seconds, in 2022
  static constexpr int64_t kSecond = 10000000;

  std::string Installed(const std::string& name, uint32_t ms, uint32_t ls) {
    PeTestImageOptions options;
    options.languages = {{0x0409, ms, ls}};
    return Place(name, BuildPeTestImage(options).Text());
  }
  std::string Place(const std::string& name, const std::string& content) {
    std::string path = scratch_.Path() + name;
    EXPECT_TRUE(WriteFileText(path, content));
    EXPECT_TRUE(os::SetFileWriteTime(path, kTime));
    return path;
  }

  ScratchFolder scratch_{CurrentTestName()};
};

TEST_F(FileVersionRulesTest, FileVersionReadsTheResource) {
  std::string dll = Installed("a.dll", 0x9C400008, 0xFFFF0003);
  std::string text = Place("a.txt", "no version here");
  ASSERT_TRUE(FileVersion(dll).has_value());
  EXPECT_EQ(FileVersion(dll)->MostSignificant, 0x9C400008u);
  EXPECT_EQ(FileVersionText(dll), "40000.8.65535.3");
  EXPECT_FALSE(FileVersion(text).has_value());
  EXPECT_EQ(FileVersionText(text), "");
  EXPECT_EQ(FileVersionText(scratch_.Path() + "missing.dll"), "");
}

TEST_F(FileVersionRulesTest, IsNewerWeighsVersionsFirstThenTimes) {
  const std::string v2 = Installed("v2.dll", 0x00020000, 0);
  const std::string v40000 = Installed("v40000.dll", 0x9C400000, 0);
  const std::string plain = Place("plain.txt", "no version");
  const std::string missing = scratch_.Path() + "missing.dll";
  struct Case {
    const std::string& file;
    const char* versionText;
    int64_t date;
    bool expected;
  } cases[] = {
      {v2, "1.0", kTime + kSecond, true},      // higher version, older time
      {v2, "3.0", kTime - kSecond, false},     // lower version, newer time
      {v2, "2.0.0.0", kTime - kSecond, true},  // same version: the time decides
      {v2, "2.0", kTime, false},
      {v2, "2.0", kTime + kSecond, false},
      {v2, "", kTime - kSecond, true},  // no version to compare: the time decides
      {v2, "", kTime + kSecond, false},
      {v2, "32768.0", kTime - kSecond, false},  // 32768 is higher, not negative
      {v40000, "1.0", kTime + kSecond, true},
      {v40000, "40000.0.0.1", kTime - kSecond, false},
      {plain, "9.9", kTime - kSecond, true},  // the file has no version: the time decides
      {plain, "9.9", kTime + kSecond, false},
      {missing, "1.0", 0, false},
      {missing, "", 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsNewer(c.versionText, c.file, c.date), c.expected)
        << c.file << " against " << c.versionText << " at " << (c.date - kTime) / kSecond << "s";
  }
}

TEST_F(FileVersionRulesTest, IsSameNeedsEqualVersionsAndExactlyTheTime) {
  const std::string v2 = Installed("v2.dll", 0x00020000, 0x00010000);
  const std::string v40000 = Installed("v40000.dll", 0x9C400000, 0);
  const std::string plain = Place("plain.txt", "no version");
  const std::string missing = scratch_.Path() + "missing.dll";
  struct Case {
    const std::string& file;
    const char* versionText;
    int64_t date;
    bool expected;
  } cases[] = {
      {v2, "2.0.1.0", kTime, true},
      {v2, "2.0.1", kTime, true},
      {v2, "2.0.1", kTime + 1, false},  // one tick off
      {v2, "2.0.1", kTime - 1, false},
      {v2, "2.0", kTime, false},
      {v2, "", kTime, true},  // no version given: only the time counts
      {v40000, "40000", kTime, true},
      {v40000, "1.0", kTime, false},
      {plain, "1.0", kTime, true},  // the file has no version
      {plain, "1.0", kTime + kSecond, false},
      {missing, "", 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSame(c.versionText, c.file, c.date), c.expected)
        << c.file << " against " << c.versionText << " at " << c.date - kTime;
  }
}

}  // namespace
