#include "support/zrFileUtils.h"

#include <gtest/gtest.h>

#include <set>

#include "TestSupport.h"

namespace {

os::LocalDateTime At(int year, int month, int day, int hour, int minute, int second, int ms) {
  return {year, month, day, hour, minute, second, ms};
}

TEST(TimeStampNameTest, EncodesDayOfDecadeAndHundredthsInBase32) {
  struct Case {
    os::LocalDateTime time;
    const char* name;
  } cases[] = {
      {At(2026, 12, 6, 10, 0, 0, 0), "2F33DRK0"},
      {At(2029, 12, 31, 23, 59, 59, 999), "3I487LFV"},  // last hundredth of the decade
      {At(2020, 1, 1, 0, 0, 0, 9), "00100000"},         // milliseconds count in hundredths
      {At(2024, 3, 1, 0, 0, 0, 0), "1FI00000"},         // 4*365+1+61: 29 February counted
      {At(2023, 3, 1, 0, 0, 0, 0), "14300000"},         // 3*365+0+60
  };
  for (const Case& c : cases) EXPECT_EQ(TimeStampName(c.time), c.name);
}

TEST(TemporaryPathTest, FallsBackWhenTempIsTheCurrentFolder) {
  EXPECT_EQ(ChooseTemporaryPath("C:\\Users\\a\\Temp", "D:\\setup", "C:\\WINDOWS", false),
            "C:\\Users\\a\\Temp\\");
  EXPECT_EQ(ChooseTemporaryPath("C:\\Users\\a\\Temp\\", "c:\\users\\A\\temp", "C:\\WINDOWS", false),
            "C:\\Temp\\");
  EXPECT_EQ(ChooseTemporaryPath("C:\\WINDOWS\\TEMP\\", "C:\\windows\\temp\\", "C:\\WINDOWS", true),
            "C:\\WINDOWS\\Temp\\");
}

TEST(PathPartsTest, SplitsAndChangesExtensions) {
  EXPECT_EQ(ExtractFilePath("C:\\a\\b.txt"), "C:\\a\\");
  EXPECT_EQ(ExtractFilePath("b.txt"), "");
  EXPECT_EQ(ExtractFilePath("C:b.txt"), "C:");
  EXPECT_EQ(ExtractFileName("C:\\a\\b.txt"), "b.txt");
  EXPECT_EQ(ChangeFileExt("C:\\a\\setup.exe", ".sss"), "C:\\a\\setup.sss");
  EXPECT_EQ(ChangeFileExt("C:\\a.b\\setup", ".sss"), "C:\\a.b\\setup.sss");
  EXPECT_EQ(WithTrailingBackslash(""), "");
  EXPECT_EQ(WithTrailingBackslash("C:\\a"), "C:\\a\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\a\\"), "C:\\a\\");
  EXPECT_EQ(WithoutTrailingBackslash("C:\\a\\"), "C:\\a");
  EXPECT_EQ(WithoutTrailingBackslash("C:\\a\\\\"), "C:\\a\\");
}

class FolderTreeTest : public testing::Test {
 protected:
  ScratchFolder scratch_{CurrentTestName()};
  const std::string& Root() { return scratch_.Path(); }
};

TEST_F(FolderTreeTest, ForceFoldersCreatesEveryMissingParent) {
  std::string deep = Root() + "a\\b\\c\\";
  EXPECT_TRUE(ForceFolders(deep));
  EXPECT_TRUE(FolderExists(Root() + "a\\b\\c"));
  EXPECT_TRUE(ForceFolders(deep));  // existing folders are fine
  ASSERT_TRUE(WriteFileText(Root() + "file", "x"));
  EXPECT_FALSE(ForceFolders(Root() + "file\\sub"));  // a file stands in the way
  EXPECT_TRUE(ForceFolders("C:"));
}

TEST_F(FolderTreeTest, DeleteTreeRemovesReadOnlyFilesAndSubfolders) {
  ASSERT_TRUE(ForceFolders(Root() + "t\\sub\\deeper"));
  ASSERT_TRUE(WriteFileText(Root() + "t\\one.txt", "1"));
  ASSERT_TRUE(WriteFileText(Root() + "t\\sub\\deeper\\ro.txt", "2"));
  ASSERT_TRUE(os::SetFileAttributes(Root() + "t\\sub\\deeper\\ro.txt", os::kAttrReadOnly));

  EXPECT_TRUE(DeleteTree(Root() + "t", false));
  EXPECT_TRUE(FolderExists(Root() + "t"));
  EXPECT_FALSE(FolderExists(Root() + "t\\sub"));
  EXPECT_FALSE(FileExists(Root() + "t\\one.txt"));

  EXPECT_TRUE(DeleteTree(Root() + "t\\", true));
  EXPECT_EQ(os::GetFileAttributes(Root() + "t"), os::kInvalidAttributes);
}

TEST_F(FolderTreeTest, DeleteTreeOfMissingFolderFails) {
  EXPECT_FALSE(DeleteTree(Root() + "missing", true));
}

TEST_F(FolderTreeTest, DeleteFileForcedRemovesReadOnlyFile) {
  std::string file = Root() + "ro.txt";
  ASSERT_TRUE(WriteFileText(file, "x"));
  ASSERT_TRUE(os::SetFileAttributes(file, os::kAttrReadOnly | os::kAttrHidden));
  EXPECT_FALSE(os::DeleteFile(file));  // as on Windows
  EXPECT_TRUE(DeleteFileForced(file));
  EXPECT_FALSE(FileExists(file));
}

TEST_F(FolderTreeTest, UniqueNameAvoidsExistingNamesAndHonoursShortForm) {
  std::string name = UniqueName(Root(), "", "", false);
  EXPECT_EQ(name.size(), 8u);
  std::string shortName = UniqueName(Root(), "kxsetup", ".tmp", true);
  EXPECT_EQ(shortName.size(), 12u);
  EXPECT_EQ(shortName.substr(0, 4), "kxse");
  EXPECT_EQ(shortName.substr(8), ".tmp");
  std::string prefixed = UniqueName(Root(), "bak", ".x", false);
  EXPECT_EQ(prefixed.size(), 13u);
}

TEST_F(FolderTreeTest, UniqueFoldersAreNeverShared) {
  // Several folders within the same hundredth of a second: each must be a new one.
  std::set<std::string> made;
  for (int i = 0; i < 6; ++i) {
    std::string folder = CreateUniqueFolder(Root(), true);
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_TRUE(made.insert(folder).second) << folder;
  }
}

TEST_F(FolderTreeTest, UniqueFolderInUncreatableParentThrows) {
  ASSERT_TRUE(WriteFileText(Root() + "blocker", "x"));
  EXPECT_THROW(CreateUniqueFolder(Root() + "blocker\\sub", false), std::exception);
}

}  // namespace

namespace {

std::vector<std::string> LinesOf(const std::string& path) {
  std::vector<std::string> lines;
  os::File file = os::File::Open(path, os::File::Mode::kRead);
  std::string line;
  while (ReadLine(file, line)) lines.push_back(line);
  return lines;
}

TEST_F(FolderTreeTest, ReadLineEndsLinesAtCrLfOrBoth) {
  using Lines = std::vector<std::string>;
  std::string path = Root() + "lines.txt";
  ASSERT_TRUE(WriteFileText(path, "a\r\nb\nc\rd"));
  EXPECT_EQ(LinesOf(path), (Lines{"a", "b", "c", "d"}));
  ASSERT_TRUE(WriteFileText(path, "\r\n\nx\r\n"));
  EXPECT_EQ(LinesOf(path), (Lines{"", "", "x"}));
  ASSERT_TRUE(WriteFileText(path, ""));
  EXPECT_EQ(LinesOf(path), Lines{});
  // A CR LF pair split across two read chunks is still one line end.
  std::string longLine(99, 'x');
  ASSERT_TRUE(WriteFileText(path, longLine + "\r\n" + std::string(250, 'y') + "\r\nz"));
  EXPECT_EQ(LinesOf(path), (Lines{longLine, std::string(250, 'y'), "z"}));
}

TEST_F(FolderTreeTest, WriteLineEndsWithCrLf) {
  std::string path = Root() + "out.txt";
  {
    os::File file = os::File::Open(path, os::File::Mode::kCreate);
    ASSERT_TRUE(WriteLine(file, "one"));
    ASSERT_TRUE(WriteLine(file, ""));
  }
  EXPECT_EQ(ReadFileText(path), "one\r\n\r\n");
}

TEST_F(FolderTreeTest, SizesTimesAndWholeFiles) {
  std::string path = Root() + "f.bin";
  ASSERT_TRUE(WriteFileText(path, std::string(1000, 'q')));
  EXPECT_EQ(FileSize(path), 1000);
  EXPECT_EQ(FileSize(Root() + "missing"), -1);
  EXPECT_EQ(FileTime(Root() + "missing"), 0);
  EXPECT_EQ(FileTime(path), os::GetFileWriteTime(path).value_or(-1));
  EXPECT_EQ(ReadWholeFile(path), std::string(1000, 'q'));
  EXPECT_EQ(ReadWholeFile(Root() + "missing"), "");
  EXPECT_EQ(ShortPath(Root() + "missing"), Root() + "missing");
}

TEST_F(FolderTreeTest, FreeSpaceOfMissingFolderIsZero) {
  EXPECT_EQ(FreeSpaceKiB(Root() + "missing"), 0u);
  EXPECT_GT(FreeSpaceKiB(Root()), 0u);
}

TEST_F(FolderTreeTest, CopyReportsEveryBlockAndKeepsTimeAndAttributes) {
  std::string source = Root() + "source.bin";
  std::string content;
  for (int i = 0; i < 300000; ++i) content += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(WriteFileText(source, content));
  const int64_t kTime = 132000000000000000LL;
  ASSERT_TRUE(os::SetFileWriteTime(source, kTime));
  ASSERT_TRUE(os::SetFileAttributes(source, os::kAttrReadOnly));

  std::vector<uint32_t> blocks;
  uint64_t lastCopied = 0;
  auto progress = [&](const std::string&, const std::string&, uint32_t block, uint64_t size,
                      uint64_t copied) {
    blocks.push_back(block);
    EXPECT_EQ(size, content.size());
    lastCopied = copied;
    return true;
  };
  std::string target = Root() + "target.bin";
  ASSERT_TRUE(CopyFileWithProgress(source, target, progress, false));
  EXPECT_EQ(blocks, (std::vector<uint32_t>{131072, 131072, 37856}));
  EXPECT_EQ(lastCopied, content.size());
  EXPECT_EQ(ReadFileText(target), content);
  EXPECT_EQ(os::GetFileWriteTime(target), kTime);
  EXPECT_TRUE(os::GetFileAttributes(target) & os::kAttrReadOnly);
  ASSERT_TRUE(os::SetFileAttributes(target, os::kAttrNormal));
  ASSERT_TRUE(os::SetFileAttributes(source, os::kAttrNormal));
}

TEST_F(FolderTreeTest, CopyAppendsAndStopsWhenProgressSaysSo) {
  std::string source = Root() + "s.txt";
  std::string target = Root() + "t.txt";
  ASSERT_TRUE(WriteFileText(source, "tail"));
  ASSERT_TRUE(WriteFileText(target, "head-"));
  ASSERT_TRUE(CopyFileWithProgress(source, target, nullptr, true));
  EXPECT_EQ(ReadFileText(target), "head-tail");

  auto refuse = [](const std::string&, const std::string&, uint32_t, uint64_t, uint64_t) {
    return false;
  };
  EXPECT_FALSE(CopyFileWithProgress(source, Root() + "u.txt", refuse, false));
  EXPECT_FALSE(CopyFileWithProgress(Root() + "missing", Root() + "v.txt", nullptr, false));
  EXPECT_FALSE(FileExists(Root() + "v.txt"));
}

// The target is the source under another spelling: the copy must fail as Windows fails it (the
// source is open and does not share writing), never truncate the file or feed it to itself.
TEST_F(FolderTreeTest, CopyOntoItselfFailsAndLeavesTheFileWhole) {
  ASSERT_TRUE(ForceFolders(Root() + "sub"));
  const std::string source = Root() + "same.txt";
  const std::string content = "the only copy";
  const std::string spellings[] = {
      source,
      Root() + "SAME.TXT",
      Root() + "sub\\..\\same.txt",
      Root() + ".\\same.txt",
      Root() + "sub/../Same.txt",
  };
  int blocks = 0;
  auto countBlocks = [&](const std::string&, const std::string&, uint32_t, uint64_t, uint64_t) {
    return ++blocks < 100;  // a file appended to itself would otherwise grow for ever
  };
  for (bool append : {false, true}) {
    for (const std::string& target : spellings) {
      SCOPED_TRACE(target + (append ? " (append)" : ""));
      ASSERT_TRUE(WriteFileText(source, content));
      EXPECT_FALSE(CopyFileWithProgress(source, target, countBlocks, append));
      EXPECT_EQ(ReadFileText(source), content);
    }
  }
}

TEST_F(FolderTreeTest, FileSizeOfWildcardsAndFolders) {
  ASSERT_TRUE(WriteFileText(Root() + "data.bin", std::string(1000, 'q')));
  ASSERT_TRUE(ForceFolders(Root() + "sub"));
  EXPECT_EQ(FileSize(Root() + "d*.bin"), 1000);
  EXPECT_EQ(FileSize(Root() + "data.???"), 1000);
  EXPECT_EQ(FileSize(Root() + "sub"), 0);
  EXPECT_EQ(FileSize(Root() + "s*"), 0);
  EXPECT_EQ(FileSize(Root() + "*.none"), -1);
}

TEST(FullPathTest, RelativePathsFollowTheCurrentFolder) {
  std::string current = WithTrailingBackslash(os::GetCurrentDir());
  EXPECT_EQ(FullPath("a\\b.txt"), current + "a\\b.txt");
  EXPECT_EQ(FullPath("C:\\x"), "C:\\x");
  EXPECT_EQ(FullPath("\\\\server\\share\\x"), "\\\\server\\share\\x");
  EXPECT_EQ(FullPath("\\top"), current.substr(0, 2) + "\\top");
}

}  // namespace
