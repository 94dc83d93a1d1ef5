// The server and font phases on the machine: COM servers registered through a recording server of
// the tests' own (and unregistered again by rollback), and fonts put in place and registered as the
// fonts key already stands, each case undone to the byte by rollback.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

#include "InstallTestSupport.h"
#include "install/Actions.h"
#include "install/Fonts.h"
#include "install/Servers.h"
#include "support/zrRegIni.h"

namespace {

constexpr char kServerCalls[] = "HKCU\\Software\\KxTests\\RecordingServer";

// The calls the recording server saw as the library at path: "+" registered, "-" unregistered.
std::string ServerCalls(const std::string& path) {
  if (KX_TEST_SERVER_IN_REGISTRY) return RegReadText(kServerCalls, path, "");
  std::string signs;
  const std::string lines = ReadFileText(path + ".calls");
  for (size_t start = 0; start < lines.size(); start = lines.find('\n', start) + 1) {
    signs += lines[start];
    if (lines.find('\n', start) == std::string::npos) break;
  }
  return signs;
}

class ServersFontsTest : public InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    fonts_ = Machine() + "Fonts";
    ASSERT_TRUE(ForceFolders(fonts_));
    SetVariable(&MainDatabase(), "Fonts", fonts_);
    SetVariable(&MainDatabase(), "System", Machine() + "system");
    if (KX_TEST_SERVER_IN_REGISTRY) RegDeleteKeyPath(kServerCalls, false);
  }
  void TearDown() override {
    for (const char* suffix : {"", " (TrueType)"})
      RegDeleteValue(SystemFontsKey(), Name() + suffix);
    InstallTest::TearDown();
  }
  static std::string Name() { return "KxTest " + CurrentTestName(); }
  // A copy of the recording server, installed at path and recorded as the file phase records it.
  void InstallServer(const std::string& path, const std::string& contents) {
    ASSERT_TRUE(ForceFolders(ExtractFilePath(path)));
    TInstallFile* file = InstallActions().AddFile(path, Flags(TkxFlag::reg_server), true);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(WriteFileText(path, contents));
  }
  static TkxFlags Flags(TkxFlag flag) { return TkxFlags().Include(flag); }

  std::string fonts_;
  const std::string server_ = ReadFileText(KX_TEST_RECORDING_SERVER);
};

TEST_F(ServersFontsTest, ServersAreRegisteredFailuresExplainedAndRollbackUnregisters) {
  const std::string good = Machine() + "app\\good.dll";
  const std::string broken = Machine() + "app\\broken.dll";
  const std::string removed = Machine() + "app\\removed.dll";
  const std::string registrar = Machine() + "system\\regsvr32.exe";
  ASSERT_FALSE(server_.empty());
  ASSERT_TRUE(ForceFolders(Machine() + "app") && ForceFolders(Machine() + "system"));
  ASSERT_TRUE(WriteFileText(removed, server_));
  ASSERT_TRUE(WriteFileText(PackageFolder() + "regsvr32.exe", "the registrar"));
  const auto before = FolderSnapshot(Machine());
  InstallServer(broken, "not a library");
  InstallServer(good, server_);
  TInstallFile* removal = InstallActions().AddFile(removed, Flags(TkxFlag::reg_server), true);
  ASSERT_NE(removal, nullptr);
  removal->Removed = true;  // as a removal item leaves it
  ASSERT_EQ(ServerCalls(removed), "-");

  testing::internal::CaptureStderr();
  ServerPhase();
  const std::string boxes = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ServerCalls(good), "+");
  EXPECT_EQ(ServerCalls(removed), "-") << "a removed file is never registered again";
  EXPECT_NE(boxes.find("Server registering error"), std::string::npos) << boxes;
  EXPECT_NE(boxes.find("regsvr32.exe \"" + broken + "\""), std::string::npos) << boxes;
  EXPECT_EQ(boxes.find(good), std::string::npos) << boxes;
  EXPECT_EQ(boxes.find(removed), std::string::npos) << boxes;
  EXPECT_EQ(ReadFileText(registrar), "the registrar");

  InstallActions().WriteLog();
  EXPECT_EQ(LogKeys("RegServers"), (Strings{broken, good}));
  InstallActions().Rollback();
  EXPECT_EQ(ServerCalls(good), "+-");
  EXPECT_EQ(ServerCalls(removed), "-+") << "the removed server comes back registered";
  EXPECT_EQ(ReadFileText(registrar), "the registrar") << "the system's own file stays";
  ASSERT_TRUE(os::DeleteFile(registrar));
  if (!KX_TEST_SERVER_IN_REGISTRY) {
    for (const std::string& library : {good, removed}) os::DeleteFile(library + ".calls");
  }
  EXPECT_EQ(FolderSnapshot(Machine()), before);
}

TEST_F(ServersFontsTest, AServerInUseIsRegisteredAgainWhenItsReplacementIsUndone) {
  const std::string path = Machine() + "app\\busy.dll";
  ASSERT_TRUE(ForceFolders(ExtractFilePath(path)));
  ASSERT_TRUE(WriteFileText(path, server_));
  os::File holder = os::File::Open(path, os::File::Mode::kRead);
  ASSERT_TRUE(holder.IsOpen());

  TInstallFile* file = InstallActions().AddFile(path, Flags(TkxFlag::reg_server), true);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->IsPending);
  EXPECT_EQ(ServerCalls(path), "-");
  InstallActions().Rollback();
  holder.Close();
  EXPECT_EQ(ServerCalls(path), "-+") << "the old server stays, so does its registration";
  EXPECT_EQ(ReadFileText(path), server_);
}

// The fonts key and folder before the font "kxtest" is installed, and what must come of it.
struct FontCase {
  const char* label;
  const char* registeredAs;  // "" none, else the suffix of the registered name
  const char* value;         // the registered value; "@" stands for the other folder
  bool fileThere;            // an old file at the target
  const char* extension;
  bool inFontsFolder;          // the target lies in the fonts folder
  const char* expectedSuffix;  // of the name that ends up registered
  const char* expectedFile;    // relative to its folder; "*" for a fresh unique name
  bool registrationKept;       // the value stays as it was, no log record
};

const FontCase kFontCases[] = {
    {"new TrueType font", "", "", false, ".ttf", true, " (TrueType)", "kxtest.ttf", false},
    {"new OpenType font elsewhere", "", "", false, ".otf", false, "", "kxtest.otf", false},
    {"registered without suffix", "", "kxtest.ttf", true, ".ttf", true, "", "kxtest.ttf", true},
    {"registered with suffix in another folder", " (TrueType)", "@", true, ".ttf", true,
     " (TrueType)", "kxtest.ttf", true},
    {"unregistered file of the same name", nullptr, "", true, ".ttf", true, " (TrueType)", "*",
     false},
};

// The case's label names it in the test list, where the runner selects each test by name.
void PrintTo(const FontCase& c, std::ostream* out) { *out << c.label; }

class FontInstallTest : public ServersFontsTest, public testing::WithParamInterface<FontCase> {};

TEST_P(FontInstallTest, FontsLandAsTheKeyStandsAndRollBack) {
  const FontCase& c = GetParam();
  const std::string other = Machine() + "other\\";
  const std::string folder = c.inFontsFolder ? fonts_ + "\\" : Machine() + "app\\";
  const std::string target = folder + "kxtest" + c.extension;
  ASSERT_TRUE(ForceFolders(other) && ForceFolders(folder));
  std::string replaced = target;  // the file the registration names
  if (c.registeredAs) {
    std::string value = c.value;
    if (value == "@") replaced = value = other + "kxtest.ttf";
    if (!value.empty()) {
      ASSERT_TRUE(RegWriteString(SystemFontsKey(), Name() + c.registeredAs, value));
    }
  }
  if (c.fileThere) {
    ASSERT_TRUE(WriteFileText(replaced, "old font"));
  }
  const auto filesBefore = FolderSnapshot(Machine());
  const auto keyBefore = RegistrySnapshot(SystemFontsKey());
  const std::string font = ReadFileText(KX_TEST_FONT_FILE);
  const std::string source = MainDatabase().TempFontsPath + "kxtest" + c.extension;
  ASSERT_TRUE(WriteFileText(source, font));

  ASSERT_TRUE(InstallFont(Name(), source, target, true)) << c.label;
  const std::string name = Name() + c.expectedSuffix;
  std::string installed = ExtractFilePath(replaced) + c.expectedFile;
  if (std::string(c.expectedFile) == "*") {
    installed = RegReadText(SystemFontsKey(), name, "");
    if (ExtractFilePath(installed).empty()) installed = folder + installed;
    EXPECT_TRUE(StartsText(ExtractFileName(installed), "kxtest")) << installed;
    EXPECT_NE(installed, target) << c.label;
    EXPECT_EQ(ReadFileText(target), "old font") << c.label;
  }
  EXPECT_EQ(ReadFileText(installed), font) << c.label;
  InstallActions().WriteLog();
  if (c.registrationKept) {
    EXPECT_EQ(RegistrySnapshot(SystemFontsKey()), keyBefore) << c.label;
    EXPECT_TRUE(LogKeys("RegFonts").empty()) << c.label;
  } else {
    const std::string value = c.inFontsFolder ? ExtractFileName(installed) : installed;
    EXPECT_EQ(RegReadText(SystemFontsKey(), name, ""), value) << c.label;
    EXPECT_EQ(LogKeys("RegFonts"), Strings{name}) << c.label;
  }

  InstallActions().Rollback();
  EXPECT_EQ(FolderSnapshot(Machine()), filesBefore) << c.label;
  EXPECT_EQ(RegistrySnapshot(SystemFontsKey()), keyBefore) << c.label;
}

INSTANTIATE_TEST_SUITE_P(Cases, FontInstallTest, testing::ValuesIn(kFontCases),
                         [](const testing::TestParamInfo<FontCase>& info) {
                           std::string name = info.param.label;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST_F(ServersFontsTest, ThePhaseInstallsHandOversOnlyAndStopsAtABrokenFont) {
  const std::string font = ReadFileText(KX_TEST_FONT_FILE);
  const auto filesBefore = FolderSnapshot(Machine());
  auto handOver = [&](const std::string& file, const std::string& contents, bool removed) {
    const std::string copy = MainDatabase().TempFontsPath + file;
    ASSERT_TRUE(WriteFileText(copy, contents));
    auto* action = InstallActions().AddAction<TInstallFile>();
    action->FileName = fonts_ + "\\" + file;
    action->PendingFile = copy;
    action->IsFont = true;
    action->FontName = Name();
    action->Removed = removed;
  };
  handOver("gone.ttf", font, true);
  handOver("kxtest.ttf", font, false);
  EXPECT_TRUE(InstallFonts());
  EXPECT_FALSE(FileExists(fonts_ + "\\gone.ttf")) << "a removed record is passed over";
  EXPECT_EQ(ReadFileText(fonts_ + "\\kxtest.ttf"), font);
  const int count = InstallActions().Count();
  EXPECT_EQ(count, 3) << "one record of the installation, and the phase does not visit it";
  EXPECT_FALSE(InstallActions().Action(1)->Log) << "the installation logs, not the hand-over";

  InstallActions().Rollback();
  EXPECT_EQ(FolderSnapshot(Machine()), filesBefore);

  handOver("broken.ttf", "no font at all", false);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(InstallFonts());
  const std::string boxes = testing::internal::GetCapturedStderr();
  EXPECT_NE(boxes.find("Can not register font \"" + Name() + "\"!"), std::string::npos) << boxes;
  InstallActions().Rollback();
  EXPECT_EQ(FolderSnapshot(Machine()), filesBefore);
}

}  // namespace
