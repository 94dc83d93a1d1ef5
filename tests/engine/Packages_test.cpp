// The package container over real package files: cabinets made by gcab with an image before them
// and a trailer (and sometimes a tail) after them, checked, prepared through the real unpack
// library and read back.
#include "engine/Packages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "database/KXClasses.h"
#include "engine/Main.h"
#include "engine/Presetup.h"
#include "expressions/Common.h"
#include "os/os.h"
#include "package/PackageCipher.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/SafeNames.h"
#include "support/zrFileUtils.h"

namespace {

const std::string kCabinets = std::string(KX_TEST_DATA_DIR) + "\\cabinets\\";
const std::string kPresetupSources = kCabinets + "presetup\\";

// The presetup files of presetup.cab before its first data entry, in archive order.
const std::vector<std::string> kEarlyPresetupFiles = {"splash.bmp", "license.txt", "lng\\enu.lng"};

std::string LittleEndian32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

// A program image stand-in: deterministic bytes with no cabinet signature in them.
std::string Image(size_t size) {
  std::string image = "MZ";
  for (size_t i = 2; i < size; ++i) image += static_cast<char>('a' + i % 23);
  return image;
}

struct TPackageLayout {
  std::string Image;
  std::string Cabinet;
  uint32_t PresetupSize = 0;
  uint32_t DataSize = 0;
  std::string Tail;
  int64_t BuiltSizeError = 0;  // added to the true built size
  std::string Marker = "KXPEND";
};

// image, cabinet, BuiltSize, PresetupSize, DataSize, marker, tail.
std::string PackageBytes(const TPackageLayout& layout) {
  const uint32_t built = static_cast<uint32_t>(layout.Image.size() + layout.Cabinet.size() + 12 +
                                               layout.Marker.size() + layout.BuiltSizeError);
  return layout.Image + layout.Cabinet + LittleEndian32(built) +
         LittleEndian32(layout.PresetupSize) + LittleEndian32(layout.DataSize) + layout.Marker +
         layout.Tail;
}

uint64_t EarlyPresetupBytes() {
  uint64_t total = 0;
  for (const std::string& name : kEarlyPresetupFiles) total += FileSize(kPresetupSources + name);
  return total;
}

class PackagesTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetRunState();
    FreeRunObjects();
    PresetupWindowCalls() = {};
    RunState().SetupTempPath = scratch_.Path() + "setup\\";
    ASSERT_TRUE(ForceFolders(RunState().SetupTempPath));
    ASSERT_TRUE(
        WriteFileText(RunState().SetupTempPath + "unpack.dll", ReadWholeFile(KX_UNPACK_LIBRARY)));
  }
  void TearDown() override {
    ResetRunState();
    FreeRunObjects();
    PresetupWindowCalls() = {};
  }

  // Writes the package into the scratch folder and adds it to the database, not yet checked.
  TkxPackage& AddPackage(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(WriteFileText(scratch_.Path() + name, bytes));
    TkxPackage& package = MainDatabase().Packages->AddNew();
    package.FullFileName = scratch_.Path() + name;
    return package;
  }

  TPackageLayout PresetupLayout() {
    TPackageLayout layout;
    layout.Image = Image(4096);
    layout.Cabinet = ReadWholeFile(kCabinets + "presetup.cab");
    layout.PresetupSize = static_cast<uint32_t>(EarlyPresetupBytes());
    return layout;
  }

  ScratchFolder scratch_{CurrentTestName()};
};

// Box texts as standard error shows them: the host writes a CR (or CR LF) as a line feed, a
// Windows program without a desktop writes the text as it is.
std::string WithLineFeeds(const std::string& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    result += text[i] == '\r' ? '\n' : text[i];
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return result;
}

// What the call wrote to standard error: the error boxes, "caption: text" each.
std::string Boxes(const std::function<void()>& call) {
  testing::internal::CaptureStderr();
  call();
  return WithLineFeeds(testing::internal::GetCapturedStderr());
}

std::string Box(const std::string& caption, const std::string& text) {
  return WithLineFeeds(caption + ": " + text + "\n");
}

std::string InvalidSizeBox(const std::string& path) {
  return Box("Invalid package", "Invalid package size!\r\rPackage \"" + path +
                                    "\" has been corrupted, installation impossible.");
}

TEST(DivideRoundingHalfToEvenTest, HalvesGoToTheEvenNeighbour) {
  struct Case {
    uint64_t numerator, denominator, expected;
  };
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  const Case cases[] = {
      {1535, 1024, 1},
      {1536, 1024, 2},
      {2560, 1024, 2},
      {3584, 1024, 4},
      {512, 1024, 0},
      {513, 1024, 1},
      {0, 1024, 0},
      {1023, 1024, 1},
      {2048, 1024, 2},
      {7, 2, 4},
      {5, 2, 2},
      {5, 3, 2},
      {4, 3, 1},
      {max, 1, max},
      {max, max, 1},
      {max, 2, max / 2 + 1},  // a half above an odd quotient; 2 * remainder would overflow
      {max - 1, max, 1},
      {max / 2, max, 0},
      {7, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DivideRoundingHalfToEven(c.numerator, c.denominator), c.expected)
        << c.numerator << " / " << c.denominator;
  }
}

TEST_F(PackagesTest, LocateLooksInTheFolderWithATrailingBackslash) {
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "here.kxp", "x"));
  std::string folder = WithoutTrailingBackslash(scratch_.Path());
  EXPECT_TRUE(LocatePackage("here.kxp", folder));
  EXPECT_EQ(folder, scratch_.Path());
  EXPECT_FALSE(LocatePackage("elsewhere.kxp", folder));
}

TEST_F(PackagesTest, ValidPackageGetsItsNamesSizesAndTemporaryFolder) {
  TPackageLayout layout = PresetupLayout();
  layout.PresetupSize = 1234;
  layout.DataSize = 0x89ABCDEF;  // above the signed range of the database field
  TkxPackage& package = AddPackage("My.Setup.exe", PackageBytes(layout));
  bool checked = false;
  EXPECT_EQ(Boxes([&] { checked = CheckPackage(package); }), "");
  EXPECT_TRUE(checked);
  EXPECT_EQ(package.FullFileName, scratch_.Path() + "My.Setup.exe");
  EXPECT_EQ(package.FileName, "My.Setup");
  EXPECT_EQ(package.TempPath, RunState().SetupTempPath + "My.Setup\\");
  EXPECT_EQ(package.PresetupSize, 1234);
  EXPECT_EQ(static_cast<uint32_t>(package.DataSize), 0x89ABCDEFu);
  EXPECT_FALSE(package.Prepared);
}

TEST_F(PackagesTest, AppendedBytesPassWhileTheMarkerIsInTheLast64KiB) {
  struct Case {
    size_t tail;
    bool valid;
  };
  // The marker's six bytes and the tail share the window of 65536 bytes.
  const Case cases[] = {{0, true},     {1, true},      {5000, true},
                        {65530, true}, {65531, false}, {70000, false}};
  for (const Case& c : cases) {
    FreeRunObjects();
    TPackageLayout layout = PresetupLayout();
    layout.Tail = std::string(c.tail, 'S');
    TkxPackage& package = AddPackage("Signed.kxp", PackageBytes(layout));
    bool checked = false;
    std::string boxes = Boxes([&] { checked = CheckPackage(package); });
    EXPECT_EQ(checked, c.valid) << "tail of " << c.tail;
    EXPECT_EQ(boxes, c.valid ? "" : InvalidSizeBox(scratch_.Path() + "Signed.kxp"))
        << "tail of " << c.tail;
    if (c.valid) {
      EXPECT_EQ(package.PresetupSize, static_cast<int32_t>(layout.PresetupSize));
    }
  }
}

TEST_F(PackagesTest, TheMarkerNearestTheEndWins) {
  // A tail that carries a second, self-consistent trailer: its numbers are the ones read.
  TPackageLayout inner = PresetupLayout();
  inner.PresetupSize = 11;
  std::string first = PackageBytes(inner);
  std::string second = LittleEndian32(static_cast<uint32_t>(first.size() + 18)) +
                       LittleEndian32(22) + LittleEndian32(33) + "KXPEND" + "tail";
  TkxPackage& package = AddPackage("Twice.kxp", first + second);
  EXPECT_TRUE(CheckPackage(package));
  EXPECT_EQ(package.PresetupSize, 22);
  EXPECT_EQ(package.DataSize, 33);

  // When the later marker's numbers do not fit, the earlier one is not tried instead.
  FreeRunObjects();
  TkxPackage& broken = AddPackage("Broken.kxp", first + "KXPEND");
  EXPECT_EQ(Boxes([&] { EXPECT_FALSE(CheckPackage(broken)); }),
            InvalidSizeBox(scratch_.Path() + "Broken.kxp"));
}

TEST_F(PackagesTest, DamagedTrailersAreInvalidPackageSize) {
  struct Case {
    const char* what;
    std::function<std::string()> bytes;
  };
  auto layoutWith = [this](const std::function<void(TPackageLayout&)>& change) {
    return [this, change] {
      TPackageLayout layout = PresetupLayout();
      change(layout);
      return PackageBytes(layout);
    };
  };
  const Case cases[] = {
      {"built size one too small", layoutWith([](TPackageLayout& l) { l.BuiltSizeError = -1; })},
      {"built size one too large", layoutWith([](TPackageLayout& l) { l.BuiltSizeError = 1; })},
      {"lower-case marker", layoutWith([](TPackageLayout& l) { l.Marker = "kxpend"; })},
      {"no marker", [this] { return PresetupLayout().Image + PresetupLayout().Cabinet; }},
      {"first bytes lost", [this] { return PackageBytes(PresetupLayout()).substr(100); }},
      {"the marker alone", [] { return std::string("KXPEND"); }},
      {"shorter than the marker", [] { return std::string("KXP"); }},
      {"empty file", [] { return std::string(); }},
  };
  for (const Case& c : cases) {
    FreeRunObjects();
    TkxPackage& package = AddPackage("Damaged.kxp", c.bytes());
    bool checked = true;
    std::string boxes = Boxes([&] { checked = CheckPackage(package); });
    EXPECT_FALSE(checked) << c.what;
    EXPECT_EQ(boxes, InvalidSizeBox(scratch_.Path() + "Damaged.kxp")) << c.what;
  }
}

TEST_F(PackagesTest, MissingPackageFileIsNotFound) {
  TkxPackage& package = MainDatabase().Packages->AddNew();
  package.FullFileName = scratch_.Path() + "Missing.kxp";
  bool checked = true;
  EXPECT_EQ(Boxes([&] { checked = CheckPackage(package); }),
            Box("File not found",
                "File \"Missing.kxp\" was not found on your computer. Setup is unable to "
                "proceed.\rIf this problem persists contact the software vendor."));
  EXPECT_FALSE(checked);
  EXPECT_EQ(package.TempPath, "");
}

TEST_F(PackagesTest, PreparationExtractsOnlyThePresetupFilesBeforeTheFirstDataEntry) {
  TPackageLayout layout = PresetupLayout();
  layout.Tail = "appended signature";
  TkxPackage& package = AddPackage("Setup.exe", PackageBytes(layout));
  ASSERT_TRUE(CheckPackage(package));
  const uint32_t start = os::TickCount();
  bool prepared = false;
  EXPECT_EQ(Boxes([&] { prepared = PreparePackages(); }), "");
  const uint32_t elapsed = os::TickCount() - start;
  ASSERT_TRUE(prepared);
  EXPECT_TRUE(package.Prepared);
  for (const std::string& name : kEarlyPresetupFiles) {
    EXPECT_EQ(ReadWholeFile(package.TempPath + name), ReadWholeFile(kPresetupSources + name))
        << name;
  }
  EXPECT_FALSE(FileExists(package.TempPath + "late.txt")) << "placed after the first data entry";
  EXPECT_FALSE(FolderExists(package.TempPath + "data"));
  EXPECT_FALSE(FileExists(package.TempPath + "program.bin"));
  EXPECT_GE(elapsed, 100u) << "the presetup window stays at least 100 ms";

  const TPresetupWindowCalls& calls = PresetupWindowCalls();
  EXPECT_EQ(calls.Splashes, 1) << "splash.bmp comes first, before any window";
  EXPECT_EQ(calls.SplashPath, package.TempPath + "splash.bmp");
  EXPECT_EQ(calls.Shown, 1);
  EXPECT_EQ(calls.Title, "Preparing \"Setup\" package...");
  EXPECT_EQ(calls.Progress, 100);
  EXPECT_EQ(calls.Destroyed, 1);
  EXPECT_EQ(calls.SplashClosed, 1);
  EXPECT_FALSE(calls.Visible);
}

TEST_F(PackagesTest, ProgressIsMeasuredAgainstThePresetupSize) {
  TPackageLayout layout = PresetupLayout();
  const uint64_t early = EarlyPresetupBytes();
  struct Case {
    uint32_t presetupSize;
    int progress;
  };
  const Case cases[] = {
      {static_cast<uint32_t>(early * 2), 50},
      {static_cast<uint32_t>(early * 8), 12},   // 12.5 goes to the even neighbour
      {0, 100},                                 // nothing to measure against
      {static_cast<uint32_t>(early / 2), 100},  // a trailer that understates the size
  };
  for (const Case& c : cases) {
    FreeRunObjects();
    PresetupWindowCalls() = {};
    layout.PresetupSize = c.presetupSize;
    TkxPackage& package = AddPackage("Progress.kxp", PackageBytes(layout));
    ASSERT_TRUE(CheckPackage(package));
    DeleteTree(package.TempPath, true);
    ASSERT_TRUE(PreparePackages()) << c.presetupSize;
    EXPECT_EQ(PresetupWindowCalls().Progress, c.progress) << c.presetupSize;
  }
}

TEST_F(PackagesTest, SilentPreparationShowsNoWindow) {
  SetVariable(&MainDatabase(), "SilentMode", "1");
  TkxPackage& package = AddPackage("Setup.exe", PackageBytes(PresetupLayout()));
  ASSERT_TRUE(CheckPackage(package));
  ASSERT_TRUE(PreparePackages());
  EXPECT_TRUE(FileExists(package.TempPath + "license.txt"));
  EXPECT_EQ(PresetupWindowCalls().Shown, 0);
  EXPECT_EQ(PresetupWindowCalls().Splashes, 0);
  EXPECT_FALSE(PresetupWindowCalls().Visible);
}

TEST_F(PackagesTest, PreparedPackagesAreSkippedAndAFailureStopsTheRest) {
  // Already prepared: its file is gone, so opening it would fail.
  TkxPackage& done = MainDatabase().Packages->AddNew();
  done.FullFileName = scratch_.Path() + "Gone.kxp";
  done.Prepared = true;
  TkxPackage& good = AddPackage("Good.kxp", PackageBytes(PresetupLayout()));
  TPackageLayout damaged = PresetupLayout();
  damaged.Cabinet.resize(damaged.Cabinet.size() / 2);
  TkxPackage& bad = AddPackage("Bad.kxp", PackageBytes(damaged));
  TkxPackage& after = AddPackage("After.kxp", PackageBytes(PresetupLayout()));
  for (TkxPackage* package : {&good, &bad, &after}) ASSERT_TRUE(CheckPackage(*package));

  EXPECT_FALSE(PreparePackages());
  EXPECT_TRUE(good.Prepared);
  EXPECT_TRUE(FileExists(good.TempPath + "license.txt"));
  EXPECT_FALSE(bad.Prepared);
  EXPECT_FALSE(after.Prepared);
  EXPECT_FALSE(FileExists(after.TempPath + "license.txt"));
  EXPECT_EQ(PresetupWindowCalls().Destroyed, 1) << "the windows go on failure too";
  EXPECT_EQ(PresetupWindowCalls().SplashClosed, 1);
}

TEST_F(PackagesTest, MissingUnpackLibraryRaisesItsErrorAfterClosingTheWindows) {
  TkxPackage& package = AddPackage("Setup.exe", PackageBytes(PresetupLayout()));
  ASSERT_TRUE(CheckPackage(package));
  ASSERT_TRUE(DeleteFileForced(RunState().SetupTempPath + "unpack.dll"));
  try {
    PreparePackages();
    FAIL() << "no error raised";
  } catch (const KxError& error) {
    EXPECT_STREQ(error.what(), "Can't load unpack library");
  }
  EXPECT_FALSE(package.Prepared);
  EXPECT_EQ(PresetupWindowCalls().Destroyed, 1);
  EXPECT_EQ(PresetupWindowCalls().SplashClosed, 1);
}

// The free space of a folder that does not exist reads as 0 KiB, so whether the preparation gets
// past the test shows the rounded size it asked for: it then fails only for lack of the unpack
// library in that folder.
TEST_F(PackagesTest, FreeSpaceNeededIsThePresetupSizeRoundedToKiB) {
  struct Case {
    uint32_t presetupSize;
    bool enoughSpace;
  };
  const Case cases[] = {{0, true}, {512, true}, {513, false}, {1535, false}, {1536, false}};
  for (const Case& c : cases) {
    FreeRunObjects();
    RunState().SetupTempPath = scratch_.Path() + "setup\\";
    TkxPackage& extracted = MainDatabase().Packages->AddNew();
    extracted.Prepared = true;  // already on disk: needs no more space
    extracted.PresetupSize = 1 << 20;
    TPackageLayout layout = PresetupLayout();
    layout.PresetupSize = c.presetupSize;
    TkxPackage& package = AddPackage("Space.kxp", PackageBytes(layout));
    ASSERT_TRUE(CheckPackage(package));
    RunState().SetupTempPath = scratch_.Path() + "nowhere\\";
    ASSERT_EQ(FreeSpaceKiB(RunState().SetupTempPath), 0u);
    bool prepared = true;
    bool raised = false;
    std::string boxes = Boxes([&] {
      try {
        prepared = PreparePackages();
      } catch (const KxError&) {
        raised = true;
      }
    });
    EXPECT_EQ(raised, c.enoughSpace) << c.presetupSize;
    EXPECT_EQ(boxes, c.enoughSpace ? "" : Box("Error", "Insufficient free disk space!"))
        << c.presetupSize;
    if (!c.enoughSpace) {
      EXPECT_FALSE(prepared) << c.presetupSize;
    }
    EXPECT_FALSE(package.Prepared);
  }
}

TEST_F(PackagesTest, UnsafeEntryNamesFailThePreparationAndAreNeverWritten) {
  const std::string cabinet = ReadWholeFile(kCabinets + "unsafe.cab");
  const std::string stored = std::string("xx\\evil.txt") + '\0';
  const size_t at = cabinet.find(stored);
  ASSERT_NE(at, std::string::npos);
  // Each of the same length as the stored name, so the cabinet stays whole.
  const std::vector<std::string> unsafeNames = {"..\\evil.txt",   "C:\\evil.txt", "\\x\\evil.txt",
                                                "a\\..\\..\\e.t", "x/../../e.t",  "xx\\COM1.txt",
                                                "nul\\evil.tx",   "xx\\CON .txt", "xx\\evil.tx.",
                                                "xx\\evil.tx ",   "xx\\ev?l.txt"};
  for (const std::string& name : unsafeNames) {
    ASSERT_EQ(name.size() + 1, stored.size()) << name;
    FreeRunObjects();
    PresetupWindowCalls() = {};
    TPackageLayout layout;
    layout.Cabinet = cabinet;
    layout.Cabinet.replace(at, name.size(), name);
    layout.PresetupSize = 31;
    TkxPackage& package = AddPackage("Unsafe.kxp", PackageBytes(layout));
    ASSERT_TRUE(CheckPackage(package));
    bool prepared = true;
    std::string boxes = Boxes([&] { prepared = PreparePackages(); });
    EXPECT_FALSE(prepared) << name;
    EXPECT_FALSE(package.Prepared) << name;
    EXPECT_EQ(boxes, Box("Invalid package", "Package \"" + package.FullFileName +
                                                "\" contains the unsafe file name \"" + name +
                                                "\", installation impossible."));
    EXPECT_EQ(ReadWholeFile(package.TempPath + "readme.txt"), "harmless\n") << name;
    EXPECT_EQ(FolderNames(package.TempPath), std::vector<std::string>{"readme.txt"}) << name;
    for (const std::string& written :
         {RunState().SetupTempPath + "evil.txt", RunState().SetupTempPath + "e.t",
          scratch_.Path() + "evil.txt", package.TempPath + "x\\evil.txt",
          std::string("C:\\evil.txt")}) {
      EXPECT_FALSE(FileExists(written)) << name << " wrote " << written;
    }
    EXPECT_EQ(PresetupWindowCalls().Destroyed, 1) << name;
    ASSERT_TRUE(DeleteTree(package.TempPath, true));
  }
}

TEST_F(PackagesTest, NamesBeyondThePathLimitAreRefusedBeforeAnythingIsCut) {
  // The package's folder leaves room for "readme.txt" exactly, one character short of
  // "xx\evil.txt".
  const std::string folderStart = RunState().SetupTempPath;
  const size_t nameLength =
      kMaxPathLength - std::string("readme.txt").size() - 1 - folderStart.size();
  TPackageLayout layout;
  layout.Cabinet = ReadWholeFile(kCabinets + "unsafe.cab");
  layout.PresetupSize = 31;
  TkxPackage& package = AddPackage(std::string(nameLength, 'p') + ".kxp", PackageBytes(layout));
  ASSERT_TRUE(CheckPackage(package));
  ASSERT_EQ((package.TempPath + "readme.txt").size(), kMaxPathLength);
  bool prepared = true;
  std::string boxes = Boxes([&] { prepared = PreparePackages(); });
  EXPECT_FALSE(prepared);
  EXPECT_EQ(boxes, Box("Invalid package", "Package \"" + package.FullFileName +
                                              "\" contains the unsafe file name \"xx\\evil.txt\", "
                                              "installation impossible."));
  EXPECT_EQ(FolderNames(package.TempPath), std::vector<std::string>{"readme.txt"});
}

// Further packages are named by the project database; the name becomes a folder under ours.
TEST_F(PackagesTest, UnsafeFurtherPackageNamesAreRefusedBeforeAnythingIsWritten) {
  TkxPackage& main = AddPackage("Setup.exe", PackageBytes(PresetupLayout()));
  const std::string runFolder = scratch_.Path() + "run\\";
  ASSERT_TRUE(ForceFolders(runFolder));
  // Real packages wait where each name leads.
  ASSERT_TRUE(ForceFolders(scratch_.Path() + "x"));
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "x\\ESC.kxp", PackageBytes(PresetupLayout())));
  // Only where the system lets a file take a device's name (the host): Windows refuses.
  WriteFileText(runFolder + "lpt1.kxp", PackageBytes(PresetupLayout()));
  const std::string saved = os::GetCurrentDir();
  ASSERT_TRUE(os::SetCurrentDir(runFolder));
  for (const std::string name : {"../x/ESC", "..\\x\\ESC", "lpt1", "NUL", "x:ESC"}) {
    MainDatabase().Packages->AddNew().FileName = name;
    bool prepared = true;
    std::string boxes = Boxes([&] { prepared = PrepareFurtherPackages(); });
    EXPECT_FALSE(prepared) << name;
    EXPECT_EQ(boxes, Box("Invalid package", "Package \"" + main.FullFileName +
                                                "\" contains the unsafe file name \"" + name +
                                                ".kxp\", installation impossible."));
    EXPECT_EQ(FolderNames(RunState().SetupTempPath), std::vector<std::string>{"unpack.dll"})
        << name;
    EXPECT_FALSE(FolderExists(scratch_.Path() + "x\\ESC")) << name;
    MainDatabase().Packages->Delete(1);
  }
  os::SetCurrentDir(saved);
}

// A package database as the authoring tool writes it, enciphered.
void WritePackageDatabase(const TkxPackage& package, const std::string& xml) {
  ASSERT_TRUE(ForceFolders(package.TempPath));
  ASSERT_TRUE(WriteFileText(package.TempPath + "db.pdb", EncipherDatabase(xml)));
}

std::string PackageVariable(const TkxPackage& package, const std::string& name) {
  const TkxVariable* variable = package.Variables->FindByName(name);
  return variable ? variable->Value : "<none>";
}

TEST_F(PackagesTest, PackageDatabaseIsMergedOverTheCheckedPackage) {
  TkxPackage& package = AddPackage("Setup.exe", PackageBytes(PresetupLayout()));
  ASSERT_TRUE(CheckPackage(package));
  ASSERT_TRUE(PreparePackages());
  package.Needed = true;
  const std::string tempPath = package.TempPath;
  WritePackageDatabase(package,
                       "<package filename=\"Other\" temppath=\"C:\\elsewhere\\\" "
                       "fullfilename=\"C:\\elsewhere\\x.kxp\" prepared=\"0\" needed=\"0\" "
                       "presetupsize=\"1\" datasize=\"2\">"
                       "<components><component id=\"core\"/><component id=\"docs\"/></components>"
                       "<variables><var name=\"Greeting\" value=\"hello\"/></variables>"
                       "</package>");
  // The main database's variable of the same name is not the package's.
  SetVariable(&MainDatabase(), "Presetup", "main");

  EXPECT_TRUE(ReadPackageDatabase(package));
  EXPECT_EQ(package.Components->Count(), 2);
  EXPECT_EQ(PackageVariable(package, "Greeting"), "hello");
  EXPECT_EQ(PackageVariable(package, "Presetup"), tempPath + "presetup");
  EXPECT_EQ(GetVariable(&package, "Presetup", ""), tempPath + "presetup");
  EXPECT_EQ(GetVariable(&MainDatabase(), "Presetup", ""), "main");
  // What the run found out about the package file stays, whatever its database says.
  EXPECT_EQ(package.TempPath, tempPath);
  EXPECT_EQ(package.FullFileName, scratch_.Path() + "Setup.exe");
  EXPECT_EQ(package.FileName, "Setup");
  EXPECT_TRUE(package.Prepared);
  EXPECT_TRUE(package.Needed);
  EXPECT_EQ(package.PresetupSize, static_cast<int32_t>(EarlyPresetupBytes()));
  EXPECT_EQ(package.DataSize, 0);
}

TEST_F(PackagesTest, EveryPackageGetsItsOwnPresetupVariable) {
  TkxPackage& first = AddPackage("One.kxp", PackageBytes(PresetupLayout()));
  TkxPackage& second = AddPackage("Two.kxp", PackageBytes(PresetupLayout()));
  ASSERT_TRUE(CheckPackage(first));
  ASSERT_TRUE(CheckPackage(second));
  WritePackageDatabase(first, "<package/>");
  // A stale value in the database is replaced, whatever the case of its name.
  WritePackageDatabase(second,
                       "<package><variables><var name=\"PRESETUP\" value=\"old\"/></variables>"
                       "</package>");
  EXPECT_TRUE(ReadPackageDatabase(first));
  EXPECT_TRUE(ReadPackageDatabase(second));
  EXPECT_EQ(PackageVariable(first, "Presetup"), first.TempPath + "presetup");
  EXPECT_EQ(PackageVariable(second, "Presetup"), second.TempPath + "presetup");
  EXPECT_EQ(second.Variables->Count(), 1);
  EXPECT_EQ(MainDatabase().Variables->FindByName("Presetup"), nullptr);
}

TEST_F(PackagesTest, UnreadablePackageDatabaseEndsTheRunWithAnError) {
  TkxPackage& package = AddPackage("Setup.exe", PackageBytes(PresetupLayout()));
  ASSERT_TRUE(CheckPackage(package));
  ASSERT_TRUE(ForceFolders(package.TempPath));
  struct Case {
    const char* xml;     // enciphered into db.pdb; none: no file
    const char* reason;  // what the message says after the package's name
  };
  const Case cases[] = {
      {nullptr, "it is missing or empty."},
      {"", "it is missing or empty."},
      {"just text", "it is missing or empty."},
      {"<package>\n <!DOCTYPE package></package>", "Line 2, position"},
      {"<package><components>", "Line 1, position"},
  };
  // The message names the package file the database came from, not a temporary path.
  auto messageOf = [&package] {
    try {
      ReadPackageDatabase(package);
    } catch (const KxError& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  const std::string prefix = "Can't read the package database of \"Setup.exe\": ";
  for (const Case& c : cases) {
    DeleteFileForced(package.TempPath + "db.pdb");
    if (c.xml) WritePackageDatabase(package, c.xml);
    const std::string message = messageOf();
    EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
  }
  // Plain XML is not a package database: deciphering turns it into noise.
  ASSERT_TRUE(WriteFileText(package.TempPath + "db.pdb", "<package filename=\"x\"/>"));
  EXPECT_EQ(messageOf().rfind(prefix, 0), 0u) << "not enciphered";
  EXPECT_EQ(package.Variables->FindByName("Presetup"), nullptr);
}

}  // namespace
