// The OS layer's contract, checked the same way on the host layer and on Windows (under Wine).
#include "os/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

class OsFileTest : public testing::Test {
 protected:
  ScratchFolder scratch_{CurrentTestName()};
  std::string Path(const std::string& name) { return scratch_.Path() + name; }
};

TEST_F(OsFileTest, CreateAppendReadAndSeek) {
  {
    os::File file = os::File::Open(Path("a.bin"), os::File::Mode::kCreate);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.Write("hello", 5));
  }
  {
    os::File file = os::File::Open(Path("a.bin"), os::File::Mode::kAppend);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.Write(" world", 6));
  }
  {
    os::File file = os::File::Open(Path("a.bin"), os::File::Mode::kRead);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Size(), 11);
    ASSERT_TRUE(file.Seek(6));
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 5);
    EXPECT_STREQ(buffer, "world");
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 0);
  }

  os::File truncated = os::File::Open(Path("a.bin"), os::File::Mode::kCreate);
  ASSERT_TRUE(truncated.IsOpen());
  EXPECT_EQ(truncated.Size(), 0);
}

TEST_F(OsFileTest, ReadWriteRewritesInPlaceAndTruncates) {
  ASSERT_TRUE(WriteFileText(Path("h.ini"), "a much longer first version"));
  ASSERT_TRUE(os::SetFileAttributes(Path("h.ini"), os::kAttrHidden));
  {
    os::File file = os::File::Open(Path("h.ini"), os::File::Mode::kReadWrite);
    ASSERT_TRUE(file.IsOpen()) << os::LastErrorMessage();
    char first[5] = {};
    EXPECT_EQ(file.Read(first, 4), 4);
    EXPECT_STREQ(first, "a mu");
    // Others may read meanwhile.
    EXPECT_TRUE(os::File::Open(Path("h.ini"), os::File::Mode::kReadShared).IsOpen());
    ASSERT_TRUE(file.Seek(0));
    ASSERT_TRUE(file.Write("short", 5));
    ASSERT_TRUE(file.Truncate());
    EXPECT_EQ(file.Size(), 5);
  }
  EXPECT_EQ(ReadFileText(Path("h.ini")), "short");
  EXPECT_TRUE(os::GetFileAttributes(Path("h.ini")) & os::kAttrHidden);
  os::File created = os::File::Open(Path("new.ini"), os::File::Mode::kReadWrite);
  EXPECT_TRUE(created.IsOpen());
  EXPECT_FALSE(os::File::Open(Path("missing.ini"), os::File::Mode::kReadShared).IsOpen());
}

TEST_F(OsFileTest, OpeningMissingFileFailsWithMessage) {
  os::File file = os::File::Open(Path("missing.txt"), os::File::Mode::kRead);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(os::LastErrorMessage().empty());
}

TEST_F(OsFileTest, CreateDirReportsWhatExists) {
  EXPECT_EQ(os::CreateDir(Path("new")), os::CreateResult::kCreated);
  EXPECT_EQ(os::CreateDir(Path("new")), os::CreateResult::kExists);
  ASSERT_TRUE(WriteFileText(Path("file"), "x"));
  EXPECT_EQ(os::CreateDir(Path("file")), os::CreateResult::kExists);
  EXPECT_EQ(os::CreateDir(Path("no\\parent")), os::CreateResult::kFailed);
  ASSERT_TRUE(WriteFileText(Path("new\\inner"), "x"));
  EXPECT_FALSE(os::RemoveDir(Path("new")));  // not empty
}

TEST_F(OsFileTest, AttributesAndTimesRoundTrip) {
  ASSERT_TRUE(WriteFileText(Path("f.txt"), "x"));
  EXPECT_EQ(os::GetFileAttributes(Path("missing")), os::kInvalidAttributes);
  EXPECT_TRUE(os::GetFileAttributes(scratch_.Path()) & os::kAttrDirectory);

  ASSERT_TRUE(os::SetFileAttributes(Path("f.txt"), os::kAttrReadOnly));
  EXPECT_TRUE(os::GetFileAttributes(Path("f.txt")) & os::kAttrReadOnly);
  ASSERT_TRUE(os::SetFileAttributes(Path("f.txt"), os::kAttrNormal));
  EXPECT_FALSE(os::GetFileAttributes(Path("f.txt")) & os::kAttrReadOnly);

  const int64_t kTime = 133000000000000000LL;  // a time in 2022, whole seconds
  ASSERT_TRUE(os::SetFileWriteTime(Path("f.txt"), kTime));
  EXPECT_EQ(os::GetFileWriteTime(Path("f.txt")), kTime);
  EXPECT_FALSE(os::GetFileWriteTime(Path("missing")).has_value());
}

TEST_F(OsFileTest, ListFolderGivesEntriesWithoutDots) {
  ASSERT_TRUE(WriteFileText(Path("one.txt"), "123"));
  ASSERT_EQ(os::CreateDir(Path("sub")), os::CreateResult::kCreated);
  std::vector<os::FindData> entries;
  ASSERT_TRUE(os::ListFolder(scratch_.Path(), entries));
  std::sort(entries.begin(), entries.end(),
            [](const os::FindData& a, const os::FindData& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "one.txt");
  EXPECT_EQ(entries[0].size, 3u);
  EXPECT_FALSE(entries[0].attributes & os::kAttrDirectory);
  EXPECT_EQ(entries[1].name, "sub");
  EXPECT_TRUE(entries[1].attributes & os::kAttrDirectory);
  EXPECT_EQ(entries[1].size, 0u) << "folders have no size";

  std::vector<os::FindData> none;
  EXPECT_FALSE(os::ListFolder(Path("missing"), none));
}

// FindFirstFile's answers: a name with wildcards gives the first entry that matches, folders
// included, and a folder's size is 0.
TEST_F(OsFileTest, FindFileTakesWildcardsAndGivesFoldersNoSize) {
  ASSERT_TRUE(WriteFileText(Path("alpha.txt"), "12345"));
  ASSERT_TRUE(WriteFileText(Path("beta.dat"), "123"));
  ASSERT_TRUE(WriteFileText(Path("readme"), "1234"));
  ASSERT_EQ(os::CreateDir(Path("sub")), os::CreateResult::kCreated);
  ASSERT_TRUE(WriteFileText(Path("sub\\inner.txt"), "1234567"));
  const struct {
    const char* path;
    const char* name;  // nullptr: nothing matches
    uint64_t size;
    bool folder;
  } cases[] = {
      {"alpha.txt", "alpha.txt", 5, false},
      {"ALPHA.TXT", "alpha.txt", 5, false},
      {"a*.txt", "alpha.txt", 5, false},
      {"*.DAT", "beta.dat", 3, false},
      {"b?ta.*", "beta.dat", 3, false},
      {"read*.*", "readme", 4, false},
      {"sub", "sub", 0, true},
      {"s?b", "sub", 0, true},
      {"sub\\*.txt", "inner.txt", 7, false},
      {"*", ".", 0, true},
      {"*.none", nullptr, 0, false},
      {"x?", nullptr, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    os::FindData data;
    ASSERT_EQ(os::FindFile(Path(c.path), data), c.name != nullptr);
    if (!c.name) continue;
    EXPECT_EQ(data.name, c.name);
    EXPECT_EQ(data.size, c.size);
    EXPECT_EQ((data.attributes & os::kAttrDirectory) != 0, c.folder);
  }
}

// Windows' sharing rules for the modes' access and sharing, within one process: a second open is
// let in only when each handle shares what the other one does. A refused open leaves the file
// as it was, and no open file can be deleted or renamed.
TEST_F(OsFileTest, OpenFilesShareOnlyWhatTheirModesAllow) {
  using Mode = os::File::Mode;
  const Mode kAsked[] = {Mode::kRead, Mode::kCreate, Mode::kAppend, Mode::kReadWrite,
                         Mode::kReadShared};
  const struct {
    Mode held;
    const char* allowed;  // per mode of kAsked: '+' let in, '-' refused
  } rows[] = {
      {Mode::kRead, "+---+"},      {Mode::kCreate, "----+"},     {Mode::kAppend, "----+"},
      {Mode::kReadWrite, "----+"}, {Mode::kReadShared, "+++++"},
  };
  const std::string path = Path("shared.txt");
  for (const auto& row : rows) {
    for (size_t asked = 0; asked < std::size(kAsked); ++asked) {
      SCOPED_TRACE(testing::Message() << "held " << static_cast<int>(row.held) << ", asked "
                                      << static_cast<int>(kAsked[asked]));
      ASSERT_TRUE(WriteFileText(path, "data"));
      std::string expected = row.held == Mode::kCreate ? "" : "data";
      {
        os::File held = os::File::Open(path, row.held);
        ASSERT_TRUE(held.IsOpen()) << os::LastErrorMessage();
        os::File second = os::File::Open(path, kAsked[asked]);
        EXPECT_EQ(second.IsOpen(), row.allowed[asked] == '+');
        if (second.IsOpen() && kAsked[asked] == Mode::kCreate) expected = "";
        if (!second.IsOpen()) {
          EXPECT_FALSE(os::LastErrorMessage().empty());
        }
        EXPECT_FALSE(os::DeleteFile(path));
        EXPECT_FALSE(os::MoveFile(path, Path("moved.txt")));
      }
      EXPECT_EQ(ReadFileText(path), expected);
    }
  }
  EXPECT_TRUE(os::MoveFile(path, Path("moved.txt"))) << "once every handle is closed";
  EXPECT_TRUE(os::DeleteFile(Path("moved.txt")));
}

// The second process of the test below holds a file open until told to let go. Its orders come
// in the environment: "mode|file|ready signal|release signal".
constexpr char kHolderOrders[] = "KX_OS_TEST_HOLDER";

TEST(OsFileHolderProcess, HoldsAFileOpenUntilReleased) {
  const char* orders = std::getenv(kHolderOrders);
  if (!orders) GTEST_SKIP() << "runs only as the second process of OsFileTest.Sharing...";
  std::vector<std::string> fields;
  for (std::string rest = orders;;) {
    size_t bar = rest.find('|');
    fields.push_back(rest.substr(0, bar));
    if (bar == std::string::npos) break;
    rest = rest.substr(bar + 1);
  }
  ASSERT_EQ(fields.size(), 4u);
  os::File held =
      os::File::Open(fields[1], static_cast<os::File::Mode>(std::atoi(fields[0].c_str())));
  ASSERT_TRUE(held.IsOpen()) << os::LastErrorMessage();
  ASSERT_TRUE(WriteFileText(fields[2], "ready"));
  for (int waited = 0; waited < 120000; waited += 20) {
    if (os::GetFileAttributes(fields[3]) != os::kInvalidAttributes) return;
    os::Sleep(20);
  }
  FAIL() << "never released";
}

// Another process holding the file: what it shares, this one may do; nobody deletes or renames.
TEST_F(OsFileTest, SharingHoldsBetweenProcesses) {
  using Mode = os::File::Mode;
  const struct {
    Mode held;
    const char* allowed;  // for kRead, kCreate, kReadShared asked here: '+' let in, '-' refused
  } rows[] = {{Mode::kRead, "+-+"}, {Mode::kReadWrite, "--+"}, {Mode::kReadShared, "+++"}};
  const std::string path = Path("held.txt");
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << "held by the other process as " << static_cast<int>(row.held));
    ASSERT_TRUE(WriteFileText(path, "data"));
    const std::string ready = Path("ready"), release = Path("release");
    os::DeleteFile(ready);
    os::DeleteFile(release);
    std::string orders =
        std::to_string(static_cast<int>(row.held)) + "|" + path + "|" + ready + "|" + release;
    ASSERT_TRUE(os::SetProcessVariable(kHolderOrders, orders));
    // Under load Wine now and then refuses to start a process ("Internal error") and
    // starts it when asked again; the sharing, not the start, is what is tested here.
    os::Process holder;
    for (int attempt = 0; attempt < 3 && !holder.IsValid(); ++attempt) {
      if (attempt > 0) os::Sleep(200);
      holder =
          os::CreateProcess("\"" + os::ModuleFileName() + "\" --gtest_filter=OsFileHolderProcess.*",
                            "", os::kShowHidden);
    }
    os::RemoveProcessVariable(kHolderOrders);
    ASSERT_TRUE(holder.IsValid()) << os::LastErrorMessage();
    while (os::GetFileAttributes(ready) == os::kInvalidAttributes) {
      ASSERT_FALSE(holder.Wait(20)) << "the holder ended before it held the file";
    }

    const Mode kAsked[] = {Mode::kRead, Mode::kCreate, Mode::kReadShared};
    for (size_t asked = 0; asked < std::size(kAsked); ++asked) {
      EXPECT_EQ(os::File::Open(path, kAsked[asked]).IsOpen(), row.allowed[asked] == '+') << asked;
    }
    EXPECT_EQ(ReadFileText(path), row.allowed[1] == '+' ? "" : "data");
    EXPECT_FALSE(os::DeleteFile(path));
    EXPECT_FALSE(os::MoveFile(path, Path("moved.txt")));

    ASSERT_TRUE(WriteFileText(release, "go"));
    ASSERT_TRUE(holder.Wait(120000));
    uint32_t exitCode = 1;
    ASSERT_TRUE(holder.ExitCode(exitCode));
    EXPECT_EQ(exitCode, 0u);
  }
  EXPECT_TRUE(os::DeleteFile(path)) << "once the other process has ended";
}

TEST(OsProcessTest, KnowsItsOwnProgramAndFolders) {
  std::string program = os::ModuleFileName();
  ASSERT_GE(program.size(), 3u);
  EXPECT_EQ(program[1], ':');
  EXPECT_NE(os::GetFileAttributes(program), os::kInvalidAttributes);
  EXPECT_NE(os::CommandLine().find("os_tests"), std::string::npos);
  std::string temp = os::TempPath();
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_TRUE(os::GetFileAttributes(temp) & os::kAttrDirectory);
  EXPECT_TRUE(os::GetFileAttributes(os::SystemDir()) & os::kAttrDirectory);

  std::string saved = os::GetCurrentDir();
  ASSERT_TRUE(os::SetCurrentDir(os::SystemDir()));
  EXPECT_EQ(os::GetCurrentDir().size(), os::SystemDir().size());
  EXPECT_FALSE(os::SetCurrentDir(os::SystemDir() + "\\no such folder"));
  ASSERT_TRUE(os::SetCurrentDir(saved));
}

// Every failure of the layer says why, whatever failed before it.
TEST_F(OsFileTest, EveryFailureDescribesItself) {
  ScratchRegistryKey registry;
  const std::string key = registry.Path().substr(5);  // without "HKCU\"
  const std::string missing = scratch_.Path() + "missing";
  const std::string existing = scratch_.Path() + "existing.txt";
  const std::string other = scratch_.Path() + "other.txt";
  ASSERT_TRUE(WriteFileText(existing, "x"));
  ASSERT_TRUE(WriteFileText(other, "y"));
  struct Case {
    const char* what;
    std::function<bool()> call;  // true when the call failed, as it must
  };
  const Case cases[] = {
      {"opening a missing key",
       [&] {
         return !os::RegKey::Open(os::RegRoot::kCurrentUser, key + "\\none", false).IsOpen();
       }},
      {"reading a missing value",
       [&] {
         uint32_t type = 0;
         std::vector<uint8_t> data;
         return !os::RegKey::Open(os::RegRoot::kCurrentUser, key, false)
                     .QueryValue("none", type, data);
       }},
      {"writing through a key opened for reading",
       [&] {
         return !os::RegKey::Open(os::RegRoot::kCurrentUser, key, false)
                     .SetValue("v", os::kRegString, "x", 2);
       }},
      {"deleting a missing value",
       [&] { return !os::RegKey::Open(os::RegRoot::kCurrentUser, key, true).DeleteValue("none"); }},
      {"listing past the last subkey",
       [&] {
         std::string name;
         return !os::RegKey::Open(os::RegRoot::kCurrentUser, key, false).EnumKey(0, name);
       }},
      {"deleting a missing key",
       [&] { return !os::RegDeleteKey(os::RegRoot::kCurrentUser, key + "\\none"); }},
      {"moving a missing file", [&] { return !os::MoveFile(missing, scratch_.Path() + "b"); }},
      {"moving onto an existing file", [&] { return !os::MoveFile(existing, other); }},
      {"the free space of a missing folder",
       [&] {
         uint64_t bytes = 0;
         return !os::GetDiskFreeSpaceEx(missing + "\\", bytes);
       }},
      {"the short name of a missing file",
       [&] {
         std::string shortPath;
         return !os::GetShortPath(missing, shortPath);
       }},
      {"starting a missing program",
       [&] {
         return !os::CreateProcess("\"" + missing + ".exe\"", "", os::kShowHidden).IsValid();
       }},
      {"the version of a file without one",
       [&] {
         uint32_t high = 0, low = 0;
         return !os::GetFileVersion(existing, high, low);
       }},
      {"registering a missing server",
       [&] {
         int32_t result = 0;
         return !os::CallServerRegistration(missing + ".dll", true, result);
       }},
  };
  for (const Case& c : cases) {
    // A failure of its own beforehand, which the next one must not leave standing.
    ASSERT_EQ(os::GetFileAttributes(scratch_.Path() + "stale-marker"), os::kInvalidAttributes);
    ASSERT_NE(os::LastErrorMessage().find("stale-marker"), std::string::npos);
    EXPECT_TRUE(c.call()) << c.what;
    const std::string message = os::LastErrorMessage();
    EXPECT_FALSE(message.empty()) << c.what;
    EXPECT_EQ(message.find("stale-marker"), std::string::npos) << c.what << ": " << message;
  }
}

TEST(OsRandomTest, EveryDrawIsNew) {
  uint8_t first[32] = {};
  uint8_t second[32] = {};
  ASSERT_TRUE(os::RandomBytes(first, sizeof(first))) << os::LastErrorMessage();
  ASSERT_TRUE(os::RandomBytes(second, sizeof(second))) << os::LastErrorMessage();
  EXPECT_FALSE(std::equal(first, first + 32, second));
  EXPECT_NE(std::count(first, first + 32, 0), 32);
}

TEST(OsResourceTest, ProgramWithoutResourceFindsNone) {
  EXPECT_FALSE(os::FindResource("RCDATA", "UNPACK").has_value());
}

TEST(OsLibraryTest, LoadsByFullPathAndFindsExports) {
  os::Library missing = os::Library::Load(std::string(KX_TEST_DATA_DIR) + "\\no-such.dll");
  EXPECT_FALSE(missing.IsLoaded());
  EXPECT_FALSE(os::LastErrorMessage().empty());

  os::Library library = os::Library::Load(KX_UNPACK_LIBRARY);
  ASSERT_TRUE(library.IsLoaded()) << os::LastErrorMessage();
  EXPECT_NE(library.Symbol("Enumerate"), nullptr);
  EXPECT_EQ(library.Symbol("NoSuchExport"), nullptr);
  os::Library moved = std::move(library);
  EXPECT_FALSE(library.IsLoaded());
  EXPECT_TRUE(moved.IsLoaded());
}

TEST(OsMessageBoxTest, WithoutDesktopTheTextGoesToStandardError) {
  testing::internal::CaptureStderr();
  int answer = os::MessageBox(nullptr, "Disk full", "Setup", os::kMbYesNo | os::kMbDefButton2);
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, os::kIdNo);
  EXPECT_NE(printed.find("Setup: Disk full"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(OsFileTest, FileTimesConvertToTheLocalClock) {
  ASSERT_TRUE(WriteFileText(Path("now.txt"), "x"));
  os::LocalDateTime before = os::LocalTime();
  os::LocalDateTime written;
  ASSERT_TRUE(os::FileTimeToLocalTime(*os::GetFileWriteTime(Path("now.txt")), written));
  // Written within the last minute, in the same local day as the clock reads (unless midnight
  // passed between the two reads, which the hour check allows for).
  EXPECT_EQ(written.year * 10000 + written.month * 100 + written.day,
            before.year * 10000 + before.month * 100 + before.day)
      << "unless the test ran across midnight";
  EXPECT_LE(std::abs((written.hour * 60 + written.minute) - (before.hour * 60 + before.minute)), 1);
  EXPECT_FALSE(os::FileTimeToLocalTime(-1, written));
}

TEST(OsLocaleTest, TextComparisonIgnoresCaseAndOrders) {
  EXPECT_EQ(os::CompareTextIgnoreCase("abc", "ABC"), 0);
  EXPECT_EQ(os::CompareTextIgnoreCase("abc", "ABD"), -1);
  EXPECT_EQ(os::CompareTextIgnoreCase("b", "A"), 1);
  EXPECT_EQ(os::CompareTextIgnoreCase("", "a"), -1);
}

TEST(OsLocaleTest, UserDateSettingsWriteTheYear) {
  std::string date = os::ShortDateText({2003, 1, 31});
  EXPECT_NE(date.find("31"), std::string::npos) << date;
  EXPECT_NE(date.find("03"), std::string::npos) << date;
  EXPECT_NE(os::DateSeparator(), '\0');
  EXPECT_NE(os::TimeSeparator(), '\0');
}

TEST(OsLocaleTest, UnitedStatesEnglishIsInstalledWithTheWesternCodePage) {
  std::vector<uint32_t> ids = os::InstalledLocaleIds();
  auto english = std::find(ids.begin(), ids.end(), 0x0409u);
  ASSERT_NE(english, ids.end());
  EXPECT_EQ(os::LocaleLanguageAbbreviation(0x0409), "ENU");
  EXPECT_EQ(os::LocaleAnsiCodePage(0x0409), "1252");
  EXPECT_EQ(os::LocaleLanguageAbbreviation(0x0407), "DEU");
  EXPECT_EQ(os::LocaleLanguageName(0x0407).rfind("German", 0), 0u)
      << os::LocaleLanguageName(0x0407);
  EXPECT_EQ(os::LocaleLanguageAbbreviation(0xABCD), "");
}

TEST(OsLocaleTest, CodePagesTranslateToFontCharacterSets) {
  uint32_t charset = 99;
  ASSERT_TRUE(os::CharsetOfCodePage(1252, charset));
  EXPECT_EQ(charset, 0u);
  ASSERT_TRUE(os::CharsetOfCodePage(1251, charset));
  EXPECT_EQ(charset, 204u);
  EXPECT_FALSE(os::CharsetOfCodePage(12345, charset));
}

TEST(OsLocaleTest, TickCountAdvances) {
  uint32_t start = os::TickCount();
  os::Sleep(20);
  uint32_t elapsed = os::TickCount() - start;
  EXPECT_GE(elapsed, 10u);
  EXPECT_LT(elapsed, 10000u);
}

TEST(OsComTest, UnknownClassesAndMalformedIdentifiersCreateNothing) {
  EXPECT_FALSE(os::CanCreateInProcessObject("{00000000-1111-2222-3333-444444444444}",
                                            "{00000000-0000-0000-C000-000000000046}"));
  EXPECT_FALSE(
      os::CanCreateInProcessObject("not a guid", "{00000000-0000-0000-C000-000000000046}"));
}

}  // namespace
