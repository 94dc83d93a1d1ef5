// The portable PE version reader on made-up and real files, the OS layer's GetFileVersion on both
// layers, and, under Wine, the reader checked against Windows' own version API.
#include "os/PeVersion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>

#include "TestSupport.h"
#include "os/PeTestImage.h"
#include "os/os.h"

namespace {

constexpr uint32_t kVersionMS = 0x9C400008;  // 40000.8: a major version with its top bit set
constexpr uint32_t kVersionLS = 0xFFFF0003;  // 65535.3

PeTestImageOptions Options(bool pe32Plus, std::vector<PeTestLanguage> languages) {
  PeTestImageOptions options;
  options.pe32Plus = pe32Plus;
  options.languages = std::move(languages);
  return options;
}

std::optional<os::PeFixedFileInfo> Read(const PeTestImage& image, std::string* reason = nullptr) {
  return os::ReadPeFixedFileInfo(image.bytes, reason);
}

// The file's version as the reader finds it through os::File, independently of GetFileVersion.
std::optional<os::PeFixedFileInfo> ReadThroughFile(const std::string& path) {
  os::File file = os::File::Open(path, os::File::Mode::kRead);
  if (!file.IsOpen()) return std::nullopt;
  os::PeByteReader read = [&file](uint64_t offset, void* buffer, size_t count) -> size_t {
    return static_cast<size_t>(std::max<int64_t>(0, file.ReadAt(offset, buffer, count)));
  };
  return os::ReadPeFixedFileInfo(read);
}

TEST(PeVersionTest, ReadsTheFixedInfoOfPe32AndPe32Plus) {
  for (bool pe32Plus : {false, true}) {
    SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
    std::string reason = "unchanged";
    auto info =
        Read(BuildPeTestImage(Options(pe32Plus, {{0x0409, kVersionMS, kVersionLS}})), &reason);
    ASSERT_TRUE(info.has_value()) << reason;
    EXPECT_EQ(reason, "");
    EXPECT_EQ(info->structVersion, 0x00010000u);
    EXPECT_EQ(info->fileVersionMS, kVersionMS);
    EXPECT_EQ(info->fileVersionLS, kVersionLS);
    EXPECT_EQ(info->productVersionMS, 0x00050006u);
    EXPECT_EQ(info->productVersionLS, 0x00070008u);
    EXPECT_EQ(info->fileFlagsMask, 0x3Fu);
    EXPECT_EQ(info->fileOS, 0x00040004u);
    EXPECT_EQ(info->fileType, 2u);
  }
}

TEST(PeVersionTest, PrefersNeutralThenUsEnglishThenTheFirstLanguage) {
  struct Case {
    std::vector<PeTestLanguage> languages;
    uint32_t expectedMS;
  } cases[] = {
      {{{0x0407, 1, 0}, {0x0409, 2, 0}}, 2},
      {{{0x0000, 1, 0}, {0x0409, 2, 0}}, 1},
      {{{0x0407, 1, 0}, {0x040C, 2, 0}}, 1},
      {{{0x040C, 1, 0}, {0x0407, 2, 0}}, 1},  // first listed, not lowest
  };
  for (const Case& c : cases) {
    for (bool pe32Plus : {false, true}) {
      auto info = Read(BuildPeTestImage(Options(pe32Plus, c.languages)));
      ASSERT_TRUE(info.has_value());
      EXPECT_EQ(info->fileVersionMS, c.expectedMS) << "first language " << c.languages[0].language;
    }
  }
}

TEST(PeVersionTest, OnlyTheVersionInfoNameCounts) {
  PeTestImageOptions options;
  options.versionName = 2;
  std::string reason;
  EXPECT_FALSE(Read(BuildPeTestImage(options), &reason).has_value());
  EXPECT_EQ(reason, "the file has no version resource");
}

TEST(PeVersionTest, FileWithoutResourcesHasNoVersion) {
  PeTestImageOptions options;
  options.withResources = false;
  std::string reason;
  EXPECT_FALSE(Read(BuildPeTestImage(options), &reason).has_value());
  EXPECT_EQ(reason, "the file has no resources");
}

TEST(PeVersionTest, DamagedFilesGiveNoVersionAndTheReason) {
  struct Case {
    const char* damage;
    std::function<void(PeTestImage&)> apply;
    const char* reason;
  } cases[] = {
      {"empty file", [](PeTestImage& i) { i.bytes.clear(); }, "no MZ header"},
      {"no MZ", [](PeTestImage& i) { i.bytes[0] = 'X'; }, "no MZ header"},
      {"PE header past the end", [](PeTestImage& i) { i.Put32(0x3C, 0xFFFFFFF0); }, "no PE header"},
      {"wrong PE signature", [](PeTestImage& i) { i.bytes[i.peHeader + 1] = 'X'; }, "no PE header"},
      {"optional header past the end", [](PeTestImage& i) { i.Put16(i.peHeader + 20, 0xFFFF); },
       "the PE header is truncated"},
      {"no optional header", [](PeTestImage& i) { i.Put16(i.peHeader + 20, 0); },
       "no optional header"},
      {"unknown optional header", [](PeTestImage& i) { i.Put16(i.optionalHeader, 0x107); },
       "not a PE32 or PE32+ file"},
      {"two data directories", [](PeTestImage& i) { i.Put32(i.numberOfRvaAndSizes, 2); },
       "the file has no resources"},
      {"empty resource directory", [](PeTestImage& i) { i.Put32(i.resourceDataDirectory + 4, 0); },
       "the file has no resources"},
      {"section table past the end", [](PeTestImage& i) { i.Put16(i.peHeader + 6, 0xFFFF); },
       "the section table is truncated"},
      {"resources outside every section",
       [](PeTestImage& i) { i.Put32(i.resourceDataDirectory, 0x5000); },
       "the resource directory is damaged"},
      {"entry count past the section",
       [](PeTestImage& i) { i.Put16(i.resourceSection + 14, 0xFFFF); },
       "the resource directory is damaged"},
      {"no type 16", [](PeTestImage& i) { i.Put32(i.typeEntry, 17); },
       "the file has no version resource"},
      {"type entry names a string", [](PeTestImage& i) { i.Put32(i.typeEntry, 0x80000000u | 16); },
       "the file has no version resource"},
      {"type entry leads to data",
       [](PeTestImage& i) { i.Put32(i.typeEntry + 4, i.Get32(i.typeEntry + 4) & 0x7FFFFFFF); },
       "the resource directory is damaged"},
      {"language entry leads to a directory",
       [](PeTestImage& i) {
         i.Put32(i.languageEntries + 4, i.Get32(i.languageEntries + 4) | 0x80000000u);
       },
       "the resource directory is damaged"},
      {"data entry outside the section",
       [](PeTestImage& i) { i.Put32(i.languageEntries + 4, 0x7FFFFFF0); },
       "the resource directory is damaged"},
      {"block outside every section", [](PeTestImage& i) { i.Put32(i.dataEntries, 0x90000000); },
       "the version resource lies outside the file"},
      {"block of size 0", [](PeTestImage& i) { i.Put32(i.dataEntries + 4, 0); },
       "the version resource is empty"},
      {"value shorter than the fixed info", [](PeTestImage& i) { i.Put16(i.firstBlock + 2, 51); },
       "the version resource has no fixed information"},
      {"resource shorter than the fixed info",
       [](PeTestImage& i) { i.Put32(i.dataEntries + 4, 60); },
       "the version resource has no fixed information"},
      {"key without its end",
       [](PeTestImage& i) {
         for (size_t at = i.firstBlock + 6; at < i.firstBlock + PeTestImage::kBlockSize; ++at) {
           i.bytes[at] = 'A';
         }
       },
       "the version resource has no fixed information"},
      {"file cut inside the block", [](PeTestImage& i) { i.bytes.resize(i.firstBlock + 50); },
       "the version resource has no fixed information"},
      {"wrong signature",
       [](PeTestImage& i) { i.Put32(i.firstBlock + PeTestImage::kFixedInfoOffset, 0xFEEF04BE); },
       "the version resource's fixed information has a wrong signature"},
  };
  for (const Case& c : cases) {
    for (bool pe32Plus : {false, true}) {
      PeTestImage image = BuildPeTestImage(Options(pe32Plus, {{0x0409, 1, 2}}));
      c.apply(image);
      std::string reason;
      EXPECT_FALSE(Read(image, &reason).has_value()) << c.damage;
      EXPECT_NE(reason.find(c.reason), std::string::npos)
          << c.damage << (pe32Plus ? " (PE32+)" : " (PE32)") << ": " << reason;
    }
  }
}

// Windows reads a block whose type word holds a printable byte in the 16-bit layout (ANSI key);
// so does the reader.
TEST(PeVersionTest, ReadsTheSixteenBitBlockLayout) {
  PeTestImage image = BuildPeTestImage(PeTestImageOptions());
  size_t block = image.firstBlock;
  std::fill(image.bytes.begin() + block, image.bytes.begin() + block + PeTestImage::kBlockSize, 0);
  image.Put16(block, 72);
  image.Put16(block + 2, 52);
  std::memcpy(&image.bytes[block + 4], "VS_VERSION_INFO", 16);
  image.Put32(block + 20, 0xFEEF04BD);
  image.Put32(block + 28, kVersionMS);
  image.Put32(block + 32, kVersionLS);
  auto info = Read(image);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->fileVersionMS, kVersionMS);
  EXPECT_EQ(info->fileVersionLS, kVersionLS);
}

TEST(PeVersionTest, ReadsOnlyTheHeadersTheDirectoryAndTheBlock) {
  PeTestImage image = BuildPeTestImage(PeTestImageOptions());
  // A resource section of 16 MiB, most of it padding.
  const size_t kPadding = 16 << 20;
  image.bytes.resize(image.bytes.size() + kPadding, 0);
  image.Put32(image.sectionTable + 16, image.Get32(image.sectionTable + 16) + kPadding);
  size_t requested = 0;
  os::PeByteReader read = [&](uint64_t offset, void* buffer, size_t count) -> size_t {
    requested += count;
    if (offset >= image.bytes.size()) return 0;
    count = std::min<size_t>(count, image.bytes.size() - offset);
    std::memcpy(buffer, image.bytes.data() + offset, count);
    return count;
  };
  ASSERT_TRUE(os::ReadPeFixedFileInfo(read).has_value());
  EXPECT_LT(requested, 1024u);
}

// Hostile files: random damage to made-up images and, when built, the versioned test module,
// aimed half of the time at the offsets and counts the reader follows. Nothing may crash, and no
// read may ask for more than the largest table a PE file can declare (65535 sections).
TEST(PeVersionTest, SurvivesMutatedFiles) {
  std::vector<PeTestImage> seeds = {
      BuildPeTestImage(Options(false, {{0x0409, kVersionMS, kVersionLS}})),
      BuildPeTestImage(Options(true, {{0x0000, 1, 2}, {0x0407, 3, 4}, {0x0409, 5, 6}})),
  };
#ifdef KX_TEST_VERSIONED_MODULE
  PeTestImage module;
  std::string moduleText = ReadFileText(KX_TEST_VERSIONED_MODULE);
  module.bytes.assign(moduleText.begin(), moduleText.end());
  ASSERT_TRUE(Read(module).has_value());
  seeds.push_back(module);
#endif
  const uint32_t kInteresting[] = {0,          1,          2,          16,         0x7F,
                                   0x80,       0xFF,       0x1000,     0xFFFF,     0x10000,
                                   0x7FFFFFFF, 0x80000000, 0x80000010, 0xFFFFFFF0, 0xFFFFFFFF};
  std::mt19937 random(20261207);
  size_t largestRequest = 0, found = 0;
  const int kRounds = 20000;
  for (int round = 0; round < kRounds; ++round) {
    PeTestImage image = seeds[round % seeds.size()];
    std::vector<size_t> targets = {0x3C,
                                   image.peHeader + 6,
                                   image.peHeader + 20,
                                   image.optionalHeader,
                                   image.numberOfRvaAndSizes,
                                   image.resourceDataDirectory,
                                   image.resourceDataDirectory + 4,
                                   image.sectionTable + 12,
                                   image.sectionTable + 16,
                                   image.sectionTable + 20,
                                   image.resourceSection + 12,
                                   image.resourceSection + 14,
                                   image.typeEntry,
                                   image.typeEntry + 4,
                                   image.languageEntries,
                                   image.languageEntries + 4,
                                   image.dataEntries,
                                   image.dataEntries + 4,
                                   image.firstBlock,
                                   image.firstBlock + 2,
                                   image.firstBlock + 4};
    int mutations = 1 + static_cast<int>(random() % 4);
    for (int m = 0; m < mutations && !image.bytes.empty(); ++m) {
      size_t at = random() % 2 && image.firstBlock ? targets[random() % targets.size()]
                                                   : random() % image.bytes.size();
      if (at + 4 > image.bytes.size()) continue;
      if (random() % 2) {
        image.Put32(at, kInteresting[random() % std::size(kInteresting)]);
      } else {
        image.bytes[at] = static_cast<uint8_t>(random());
      }
    }
    if (random() % 8 == 0) image.bytes.resize(random() % (image.bytes.size() + 1));
    os::PeByteReader read = [&](uint64_t offset, void* buffer, size_t count) -> size_t {
      largestRequest = std::max(largestRequest, count);
      if (offset >= image.bytes.size()) return 0;
      count = std::min<size_t>(count, image.bytes.size() - offset);
      std::memcpy(buffer, image.bytes.data() + offset, count);
      return count;
    };
    if (os::ReadPeFixedFileInfo(read).has_value()) ++found;
  }
  EXPECT_LE(largestRequest, size_t{65535} * 40);
  // Most damage misses what matters; a fuzzer that never reaches the end proves little.
  EXPECT_GT(found, kRounds / 10u);
  EXPECT_LT(found, static_cast<size_t>(kRounds));
}

// ---------------------------------------------------------------------------------------------
// The OS layer's GetFileVersion

class FileVersionTest : public testing::Test {
 protected:
  ScratchFolder scratch_{CurrentTestName()};
  std::string Write(const std::string& name, const PeTestImage& image) {
    std::string path = scratch_.Path() + name;
    EXPECT_TRUE(WriteFileText(path, image.Text()));
    return path;
  }
};

TEST_F(FileVersionTest, ReadsTheVersionOfAFile) {
  for (bool pe32Plus : {false, true}) {
    std::string path =
        Write(pe32Plus ? "plus.dll" : "plain.dll",
              BuildPeTestImage(Options(pe32Plus, {{0x0409, kVersionMS, kVersionLS}})));
    uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(os::GetFileVersion(path, ms, ls)) << path;
    EXPECT_EQ(ms, kVersionMS);
    EXPECT_EQ(ls, kVersionLS);
  }
}

TEST_F(FileVersionTest, FailsWithoutAVersionAndLeavesTheWordsAlone) {
  PeTestImageOptions unversioned;
  unversioned.withResources = false;
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "notes.txt", "MZ but nothing more"));
  const std::string paths[] = {scratch_.Path() + "missing.dll", scratch_.Path() + "notes.txt",
                               Write("bare.dll", BuildPeTestImage(unversioned)), scratch_.Path()};
  for (const std::string& path : paths) {
    uint32_t ms = 11, ls = 22;
    EXPECT_FALSE(os::GetFileVersion(path, ms, ls)) << path;
    EXPECT_EQ(ms, 11u);
    EXPECT_EQ(ls, 22u);
  }
}

#ifdef KX_TEST_VERSIONED_MODULE
// A module built by the real resource compiler and linker, with FILEVERSION 40000,8,65535,3.
TEST(VersionedModuleTest, CarriesItsFileVersion) {
  uint32_t ms = 0, ls = 0;
  ASSERT_TRUE(os::GetFileVersion(KX_TEST_VERSIONED_MODULE, ms, ls));
  EXPECT_EQ(ms, kVersionMS);
  EXPECT_EQ(ls, kVersionLS);
  auto info = ReadThroughFile(KX_TEST_VERSIONED_MODULE);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->productVersionMS, 0x00070008u);
  EXPECT_EQ(info->productVersionLS, 0x0009000Au);
}
#endif

// ---------------------------------------------------------------------------------------------
// The reader against GetFileVersion: under Wine, two independent readers (Windows' version API
// and ours) on the same files, versioned or not; on the host, the file-reading paths agree.

struct Comparison {
  bool apiFound = false;
  bool readerFound = false;
  uint32_t apiMS = 0, apiLS = 0, readerMS = 0, readerLS = 0;
};

Comparison Compare(const std::string& path) {
  Comparison result;
  result.apiFound = os::GetFileVersion(path, result.apiMS, result.apiLS);
  if (auto info = ReadThroughFile(path)) {
    result.readerFound = true;
    result.readerMS = info->fileVersionMS;
    result.readerLS = info->fileVersionLS;
  }
  return result;
}

void ExpectAgreement(const std::string& path, const Comparison& c) {
  EXPECT_EQ(c.apiFound, c.readerFound) << path;
  EXPECT_EQ(c.apiMS, c.readerMS) << path;
  EXPECT_EQ(c.apiLS, c.readerLS) << path;
}

TEST_F(FileVersionTest, ReaderAgreesWithGetFileVersion) {
  PeTestImageOptions secondName, bare;
  secondName.versionName = 2;
  bare.withResources = false;
  PeTestImage wrongSignature = BuildPeTestImage(Options(true, {{0x0409, 1, 2}}));
  wrongSignature.Put32(wrongSignature.firstBlock + PeTestImage::kFixedInfoOffset, 0);
  std::vector<std::string> paths = {
      Write("pe32.dll", BuildPeTestImage(Options(false, {{0x0409, kVersionMS, kVersionLS}}))),
      Write("pe32plus.dll", BuildPeTestImage(Options(true, {{0x0409, kVersionMS, kVersionLS}}))),
      Write("neutral.dll", BuildPeTestImage(Options(true, {{0x0000, 7, 8}, {0x0409, 9, 10}}))),
      Write("second.dll", BuildPeTestImage(secondName)),
      Write("bare.dll", BuildPeTestImage(bare)),
      Write("signature.dll", wrongSignature),
      os::ModuleFileName(),
  };
#ifdef KX_TEST_VERSIONED_MODULE
  paths.push_back(KX_TEST_VERSIONED_MODULE);
#endif
  int versioned = 0;
  for (const std::string& path : paths) {
    Comparison c = Compare(path);
    ExpectAgreement(path, c);
    versioned += c.apiFound;
  }
  EXPECT_GE(versioned, 3);
}

#if defined(_WIN32)
TEST(WindowsVersionApiTest, ReaderAgreesOnSystemLibraries) {
  const std::string system = os::SystemDir() + "\\", windows = os::WindowsDir() + "\\";
  const std::string paths[] = {
      system + "kernel32.dll", system + "version.dll",  system + "comctl32.dll",
      system + "shell32.dll",  system + "user32.dll",   system + "advapi32.dll",
      system + "ole32.dll",    system + "oleaut32.dll", system + "msvcrt.dll",
      system + "cabinet.dll",  system + "ntdll.dll",    system + "notepad.exe",
      system + "cmd.exe",      windows + "regedit.exe", windows + "explorer.exe"};
  int versioned = 0;
  for (const std::string& path : paths) {
    if (os::GetFileAttributes(path) == os::kInvalidAttributes) continue;
    Comparison c = Compare(path);
    ExpectAgreement(path, c);
    versioned += c.apiFound;
  }
  uint32_t ms = 0, ls = 0;
  EXPECT_TRUE(os::GetFileVersion(os::SystemDir() + "\\kernel32.dll", ms, ls));
  EXPECT_GE(versioned, 5);
}

TEST(WindowsVersionApiTest, ReportsAnNtSystem) {
  os::VersionData data = os::GetVersionData();
  EXPECT_EQ(data.platform, os::Platform::kWindowsNT);
  EXPECT_GE(data.major, 5);
  EXPECT_GT(data.build, 0);
}
#else
// ---------------------------------------------------------------------------------------------
// The host's Windows version: $KX_WINVER

class HostWindowsVersionTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = std::getenv("KX_WINVER")) saved_ = value;
  }
  void TearDown() override {
    if (saved_) {
      setenv("KX_WINVER", saved_->c_str(), 1);
    } else {
      unsetenv("KX_WINVER");
    }
  }
  std::optional<std::string> saved_;
};

TEST_F(HostWindowsVersionTest, ReadsKxWinverAndFallsBackToXp) {
  struct Case {
    const char* value;  // nullptr: unset
    os::Platform platform;
    int major, minor, build;
  } cases[] = {
      {nullptr, os::Platform::kWindowsNT, 5, 1, 2600},
      {"4.10.2222:9x", os::Platform::kWindows9x, 4, 10, 2222},
      {"4.90.3000:9X", os::Platform::kWindows9x, 4, 90, 3000},
      {"10.0.19045", os::Platform::kWindowsNT, 10, 0, 19045},
      {"4.0.1381", os::Platform::kWindowsNT, 4, 0, 1381},
      // Malformed: the default.
      {"", os::Platform::kWindowsNT, 5, 1, 2600},
      {"5.0", os::Platform::kWindowsNT, 5, 1, 2600},
      {"5.0.2195 ", os::Platform::kWindowsNT, 5, 1, 2600},
      {"5.0.2195:nt", os::Platform::kWindowsNT, 5, 1, 2600},
      {"4.0.950:9x:9x", os::Platform::kWindowsNT, 5, 1, 2600},
      {"-4.0.950", os::Platform::kWindowsNT, 5, 1, 2600},
      {"a.b.c", os::Platform::kWindowsNT, 5, 1, 2600},
      {"6.0.1234567890", os::Platform::kWindowsNT, 5, 1, 2600},
      {"6.0.6000.1", os::Platform::kWindowsNT, 5, 1, 2600},
  };
  for (const Case& c : cases) {
    if (c.value) {
      setenv("KX_WINVER", c.value, 1);
    } else {
      unsetenv("KX_WINVER");
    }
    os::VersionData data = os::GetVersionData();
    const char* shown = c.value ? c.value : "(unset)";
    EXPECT_EQ(data.platform, c.platform) << shown;
    EXPECT_EQ(data.major, c.major) << shown;
    EXPECT_EQ(data.minor, c.minor) << shown;
    EXPECT_EQ(data.build, c.build) << shown;
    EXPECT_EQ(data.servicePack, "") << shown;
  }
}
#endif

}  // namespace
