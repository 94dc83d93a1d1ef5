// Registry access by path strings. Runs over the host store and, under Wine, against Wine's own
// registry; every test works below a scratch key of its own and removes it afterwards.
#include "support/zrRegIni.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The whole literal, inner NULs included, without the one the compiler adds.
template <size_t N>
std::string Raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

class RegistryTest : public testing::Test {
 protected:
  static std::string Key() { return ScratchRegistryKey::CurrentTestKey(); }
  ScratchRegistryKey scratchKey_;

  // Writes data as it is, so that reads can be tested on values other programs may leave.
  static void WriteRaw(const std::string& name, uint32_t type, const std::string& data) {
    ASSERT_TRUE(RegWrite(Key(), name, type, data.data(), data.size())) << name;
  }

  static std::vector<uint8_t> Read(const std::string& name) {
    std::vector<uint8_t> data;
    EXPECT_TRUE(RegReadBinary(Key(), name, data)) << name;
    return data;
  }
};

TEST(SplitKeyPathTest, NamesTheRootOrFallsBackToCurrentUser) {
  using os::RegRoot;
  struct Case {
    const char* path;
    RegRoot root;
    const char* subkey;
  } cases[] = {
      {"HKLM\\Software\\Test", RegRoot::kLocalMachine, "Software\\Test"},
      {"hklm\\Software\\Test\\", RegRoot::kLocalMachine, "Software\\Test"},
      {"HKCR\\.txt", RegRoot::kClassesRoot, ".txt"},
      {"HkCu\\Environment", RegRoot::kCurrentUser, "Environment"},
      {"HKU\\.DEFAULT", RegRoot::kUsers, ".DEFAULT"},
      {"HKLM", RegRoot::kLocalMachine, ""},
      {"HKLM\\", RegRoot::kLocalMachine, ""},
      {"SOFTWARE\\Test", RegRoot::kCurrentUser, "SOFTWARE\\Test"},
      {"HKEY_LOCAL_MACHINE\\Software", RegRoot::kCurrentUser, "HKEY_LOCAL_MACHINE\\Software"},
      {"HKLMX\\a", RegRoot::kCurrentUser, "HKLMX\\a"},
      {"", RegRoot::kCurrentUser, ""},
      {"Software\\a\\\\", RegRoot::kCurrentUser, "Software\\a\\"},  // only one is dropped
  };
  for (const Case& c : cases) {
    RegRoot root = RegRoot::kUsers == c.root ? RegRoot::kClassesRoot : RegRoot::kUsers;
    std::string subkey = "unchanged";
    SplitKeyPath(c.path, root, subkey);
    EXPECT_EQ(root, c.root) << c.path;
    EXPECT_EQ(subkey, c.subkey) << c.path;
  }
}

TEST_F(RegistryTest, WritesByTypeNumberAndReadsTheTextForm) {
  struct Case {
    uint32_t type;
    const char* text;
    uint32_t storedType;
    const char* readBack;
  } cases[] = {
      {1, "C:\\Program Files\\a \"b\"", 1, "C:\\Program Files\\a \"b\""},
      {1, "", 1, ""},
      {2, "%SystemRoot%\\x", 1, "%SystemRoot%\\x"},  // a string, never expanded
      {3, "0a 1B ff", 3, "0A1BFF"},
      {4, "42", 4, "42"},
      {4, "$2A", 4, "42"},
      {4, "-1", 4, "4294967295"},
      {4, "4294967295", 4, "4294967295"},
      {4, "4294967296", 4, "0"},
      {4, "12 apples", 4, "0"},
      {7, "a\r\nb", 7, "a\r\nb"},
      {7, "a\nb\rc\r\nd\r\n", 7, "a\r\nb\r\nc\r\nd"},
      {7, "", 7, ""},
  };
  int index = 0;
  for (const Case& c : cases) {
    std::string name = "v" + std::to_string(index++);
    ASSERT_TRUE(RegWriteByType(Key(), name, c.type, c.text)) << name;
    EXPECT_EQ(RegValueType(Key(), name), c.storedType) << name;
    EXPECT_EQ(RegReadText(Key(), name, "default"), c.readBack) << name;
  }
}

TEST_F(RegistryTest, WriteByTypeRefusesOtherTypesAndWritesNothing) {
  for (uint32_t type : {0u, 5u, 6u, 8u, 11u}) {
    EXPECT_FALSE(RegWriteByType(Key(), "v", type, "1")) << type;
    EXPECT_FALSE(RegValueExists(Key(), "v")) << type;
  }
}

TEST_F(RegistryTest, BinaryFromTextTakesPairsOfDigits) {
  struct Case {
    const char* text;
    std::vector<uint8_t> data;
  } cases[] = {
      {"0a1BfF", {0x0A, 0x1B, 0xFF}},
      {" 0a 1 B ff ", {0x0A, 0x1B, 0xFF}},
      {"ABC", {0xAB}},         // the odd last digit is dropped
      {"ZZ01", {0x00, 0x01}},  // a pair that is not hexadecimal is 0
      {"1G2", {0x00}},
      {"$1", {0x00}},
      {"A", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(RegWriteBinaryText(Key(), "bin", c.text)) << c.text;
    EXPECT_EQ(RegValueType(Key(), "bin"), 3u);
    EXPECT_EQ(Read("bin"), c.data) << c.text;
    EXPECT_EQ(RegValueSize(Key(), "bin"), c.data.size()) << c.text;
  }
}

TEST_F(RegistryTest, MultiStringsAreStoredAsZeroSeparatedStrings) {
  struct Case {
    std::vector<std::string> lines;
    std::string data;
  } cases[] = {
      {{"a", "b"}, Raw("a\0b\0\0")}, {{}, Raw("\0")}, {{"x", "", "y"}, Raw("x\0\0y\0\0")},
      {{"p\nq"}, Raw("pq\0\0")},  // line feeds inside a line are removed
      {{"p\rq"}, Raw("p\0q\0\0")},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(RegWriteMultiString(Key(), "multi", c.lines));
    EXPECT_EQ(RegValueType(Key(), "multi"), 7u);
    EXPECT_EQ(Read("multi"), Bytes(c.data));
  }
}

TEST_F(RegistryTest, MultiStringWithEmptyEntriesReadsBackAsWritten) {
  ASSERT_TRUE(RegWriteMultiString(Key(), "multi", {"\\??\\C:\\a", "", "\\??\\C:\\b", "!x"}));
  EXPECT_EQ(RegReadText(Key(), "multi", ""), "\\??\\C:\\a\r\n\r\n\\??\\C:\\b\r\n!x");
}

TEST_F(RegistryTest, MultiStringTextDropsOnlyTheZerosThatArePresent) {
  struct Case {
    std::string data;
    const char* text;
  } cases[] = {
      {Raw("a\0b\0\0"), "a\r\nb"},
      {Raw("a\0b\0"), "a\r\nb"},  // closing zero missing
      {Raw("ab"), "ab"},          // no zero at all
      {Raw("\0"), ""},
      {Raw("\0\0"), ""},
      {std::string(), ""},
  };
  for (const Case& c : cases) {
    WriteRaw("multi", 7, c.data);
    EXPECT_EQ(RegReadText(Key(), "multi", "default"), c.text);
  }
}

TEST_F(RegistryTest, ReadTextGivesTheDefaultForMissingValuesAndOtherTypes) {
  EXPECT_EQ(RegReadText(Key(), "missing", "$10"), "$10");
  EXPECT_EQ(RegReadText(Key() + "\\nokey", "missing", "x"), "x");
  WriteRaw("qword", 11, std::string(8, '\1'));
  EXPECT_EQ(RegReadText(Key(), "qword", "def"), "def");
  WriteRaw("none", 0, "ab");
  EXPECT_EQ(RegReadText(Key(), "none", "def"), "def");
}

TEST_F(RegistryTest, UnreadableNumberReadsAsTheDefaultParsedInDecimal) {
  WriteRaw("short", 4, Raw("\1\2"));
  EXPECT_EQ(RegReadText(Key(), "short", "$10"), "16");
  EXPECT_EQ(RegReadText(Key(), "short", "junk"), "0");
  EXPECT_EQ(RegReadNumber(Key(), "short", 77), 77u);
}

TEST_F(RegistryTest, StringsReadUpToTheirFirstZeroWithoutExpansion) {
  WriteRaw("embedded", 1, Raw("ab\0cd\0"));
  EXPECT_EQ(RegReadText(Key(), "embedded", "x"), "ab");
  WriteRaw("unterminated", 1, "abc");
  EXPECT_EQ(RegReadText(Key(), "unterminated", "x"), "abc");
  WriteRaw("expand", 2, Raw("%TEMP%\\a\0"));
  EXPECT_EQ(RegReadText(Key(), "expand", "x"), "%TEMP%\\a");
}

TEST_F(RegistryTest, NumbersAreReadFromFourByteValues) {
  ASSERT_TRUE(RegWriteNumber(Key(), "dword", 0xDEADBEEF));
  EXPECT_EQ(Read("dword"), (std::vector<uint8_t>{0xEF, 0xBE, 0xAD, 0xDE}));
  EXPECT_EQ(RegReadNumber(Key(), "dword", 1), 0xDEADBEEFu);
  EXPECT_EQ(RegReadText(Key(), "dword", "1"), "3735928559");
  WriteRaw("binary4", 3, Raw("\1\0\0\0"));
  EXPECT_EQ(RegReadNumber(Key(), "binary4", 9), 1u);
  ASSERT_TRUE(RegWriteString(Key(), "text", "12"));
  EXPECT_EQ(RegReadNumber(Key(), "text", 9), 9u);
  EXPECT_EQ(RegReadNumber(Key(), "missing", 9), 9u);
}

TEST_F(RegistryTest, ValueFactsAreZeroWhenMissing) {
  ASSERT_TRUE(RegWriteString(Key(), "s", "abc"));
  EXPECT_TRUE(RegValueExists(Key(), "s"));
  EXPECT_EQ(RegValueType(Key(), "s"), 1u);
  EXPECT_EQ(RegValueSize(Key(), "s"), 4u);  // with its terminating zero
  EXPECT_FALSE(RegValueExists(Key(), "t"));
  EXPECT_EQ(RegValueType(Key(), "t"), 0u);
  EXPECT_EQ(RegValueSize(Key(), "t"), 0u);
  EXPECT_FALSE(RegValueExists(Key() + "\\missing", "s"));
}

TEST_F(RegistryTest, DefaultValueHasTheEmptyName) {
  EXPECT_FALSE(RegValueExists(Key(), ""));
  ASSERT_TRUE(RegWriteString(Key(), "", "default text"));
  EXPECT_EQ(RegReadText(Key(), "", "x"), "default text");
  EXPECT_TRUE(RegDeleteValue(Key(), ""));
  EXPECT_FALSE(RegValueExists(Key(), ""));
}

TEST_F(RegistryTest, ReadRawReportsTheSizeAndRefusesSmallBuffers) {
  ASSERT_TRUE(RegWriteString(Key(), "s", "abcdef"));
  char buffer[16] = {};
  size_t size = 3;
  EXPECT_FALSE(RegReadRaw(Key(), "s", buffer, size));
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(buffer[0], 0);  // nothing was written into the small buffer
  size = sizeof(buffer);
  EXPECT_TRUE(RegReadRaw(Key(), "s", buffer, size));
  EXPECT_EQ(size, 7u);
  EXPECT_STREQ(buffer, "abcdef");
  size = sizeof(buffer);
  EXPECT_FALSE(RegReadRaw(Key(), "missing", buffer, size));
}

TEST_F(RegistryTest, BinaryTextIsReadFromValuesOfAnyType) {
  ASSERT_TRUE(RegWriteString(Key(), "s", "ab"));
  EXPECT_EQ(RegReadBinaryText(Key(), "s", "x"), "616200");
  ASSERT_TRUE(RegWriteBinary(Key(), "empty", nullptr, 0));
  EXPECT_EQ(RegReadBinaryText(Key(), "empty", "x"), "");
  EXPECT_EQ(RegReadBinaryText(Key(), "missing", "x"), "x");
  std::vector<uint8_t> data{1};
  EXPECT_FALSE(RegReadBinary(Key(), "missing", data));
}

TEST_F(RegistryTest, PathWithoutRootIsUnderCurrentUser) {
  std::string rootless = "Software\\kxsetup-tests\\" + CurrentTestName() + "\\rootless";
  ASSERT_TRUE(RegWriteString(rootless, "v", "under HKCU"));
  EXPECT_EQ(RegReadText(Key() + "\\rootless", "v", ""), "under HKCU");
  EXPECT_EQ(RegReadText(rootless, "v", ""), "under HKCU");
}

TEST_F(RegistryTest, LowerCaseRootAndTrailingBackslashAddressTheSameKey) {
  std::string machineKey = "HKLM\\Software\\kxsetup-tests\\" + CurrentTestName();
  RegDeleteKeyPath(machineKey, true);
  ASSERT_TRUE(
      RegWriteString("hklm\\Software\\kxsetup-tests\\" + CurrentTestName() + "\\", "v", "machine"));
  EXPECT_EQ(RegReadText(machineKey, "v", ""), "machine");
  EXPECT_FALSE(RegKeyExists(Key()));  // not under HKCU
  EXPECT_TRUE(RegDeleteKeyPath(machineKey + "\\", true));
  EXPECT_FALSE(RegKeyExists(machineKey));
  RegDeleteKeyPath("HKLM\\Software\\kxsetup-tests", false);
}

TEST_F(RegistryTest, NamesCompareWithoutCase) {
  ASSERT_TRUE(RegWriteString(Key() + "\\Sub", "Value", "one"));
  std::string upper = "HKCU\\SOFTWARE\\KXSETUP-TESTS\\" + CurrentTestName() + "\\SUB";
  EXPECT_EQ(RegReadText(upper, "VALUE", ""), "one");
  ASSERT_TRUE(RegWriteString(upper, "value", "two"));
  EXPECT_EQ(RegReadText(Key() + "\\sub", "Value", ""), "two");
  std::vector<std::string> subkeys;
  RegListSubkeys(Key(), subkeys);
  EXPECT_EQ(subkeys, std::vector<std::string>{"Sub"});  // keeps the case it was created with
}

TEST_F(RegistryTest, DeleteValueReportsWhetherItDeleted) {
  ASSERT_TRUE(RegWriteNumber(Key(), "n", 1));
  EXPECT_TRUE(RegDeleteValue(Key(), "n"));
  EXPECT_FALSE(RegDeleteValue(Key(), "n"));
  EXPECT_FALSE(RegDeleteValue(Key() + "\\missing", "n"));
}

TEST_F(RegistryTest, DeleteKeyWithSubkeysDeletesTheWholeTree) {
  ASSERT_TRUE(RegWriteString(Key() + "\\a\\b\\c", "v", "1"));
  ASSERT_TRUE(RegWriteString(Key() + "\\a\\d", "v", "2"));
  ASSERT_TRUE(RegWriteString(Key() + "\\a", "v", "3"));
  EXPECT_FALSE(RegDeleteKeyPath(Key() + "\\a", false));
  EXPECT_TRUE(RegKeyExists(Key() + "\\a\\b\\c"));
  EXPECT_TRUE(RegDeleteKeyPath(Key() + "\\a\\b\\c", false));  // a leaf goes without the flag
  EXPECT_TRUE(RegDeleteKeyPath(Key() + "\\a\\", true));
  EXPECT_FALSE(RegKeyExists(Key() + "\\a"));
  EXPECT_TRUE(RegKeyExists(Key()));
  EXPECT_FALSE(RegDeleteKeyPath(Key() + "\\a", true));
}

TEST_F(RegistryTest, DeletingARootFailsAndLeavesItsKeys) {
  ASSERT_TRUE(RegWriteString(Key(), "v", "kept"));
  for (const char* root : {"HKCU", "hkcu\\", ""}) {
    EXPECT_FALSE(RegDeleteKeyPath(root, true)) << root;
    EXPECT_EQ(RegReadText(Key(), "v", ""), "kept") << root;
  }
}

TEST_F(RegistryTest, ListSubkeysReplacesTheListWithTheDirectSubkeys) {
  for (const char* name : {"b", "A", "c\\deeper"}) {
    ASSERT_TRUE(RegWriteNumber(Key() + "\\" + name, "n", 1));
  }
  std::vector<std::string> list{"stale"};
  RegListSubkeys(Key(), list);
  std::sort(list.begin(), list.end());
  EXPECT_EQ(list, (std::vector<std::string>{"A", "b", "c"}));
  RegListSubkeys(Key() + "\\missing", list);
  EXPECT_TRUE(list.empty());
}

TEST_F(RegistryTest, UniqueValueNameIsPrefixAndAnUnusedNumber) {
  ASSERT_TRUE(RegWriteString(Key(), "kx", "x"));
  std::string first = RegUniqueValueName(Key(), "kx");
  std::string second = RegUniqueValueName(Key(), "kx");
  for (const std::string& name : {first, second}) {
    ASSERT_GT(name.size(), 2u);
    EXPECT_EQ(name.substr(0, 2), "kx");
    std::string digits = name.substr(2);
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << name;
    EXPECT_LE(std::stoll(digits), 2147483646LL);
    EXPECT_FALSE(RegValueExists(Key(), name));
  }
  EXPECT_NE(first, second);  // one chance in 2^31 of a false failure
}

// The writer half of tests/support/reg_query_check.sh, which has Wine's own "reg" tool read
// what it leaves. With KX_KEEP_CHECK_KEY=1 it writes to the check key and keeps it for that
// reader; otherwise it works in a scratch key, so that a parallel run of the check is not
// disturbed.
TEST(RegistryWriterForCheck, WritesEveryTypeUnderTheCheckKey) {
  const char* keepVariable = std::getenv("KX_KEEP_CHECK_KEY");
  const bool keep = keepVariable && std::string(keepVariable) == "1";
  const std::string key = keep ? "HKCU\\Software\\kxsetup-check"
                               : "HKCU\\Software\\kxsetup-tests\\" + CurrentTestName();
  RegDeleteKeyPath(key, true);
  const std::string expand = "%SystemRoot%\\kx";
  ASSERT_TRUE(RegWriteString(key, "text", "C:\\a \"quoted\" b"));
  ASSERT_TRUE(RegWrite(key, "expand", 2, expand.c_str(), expand.size() + 1));
  ASSERT_TRUE(RegWriteByType(key, "number", 4, "4294967295"));
  ASSERT_TRUE(RegWriteByType(key, "small", 4, "$2A"));
  ASSERT_TRUE(RegWriteByType(key, "binary", 3, "01 ab FF"));
  ASSERT_TRUE(RegWriteByType(key, "multi", 7, "one\r\ntwo\nthree"));
  ASSERT_TRUE(RegWriteString(key, "", "default"));
  ASSERT_TRUE(RegWriteString(key + "\\Sub", "inner", "x"));

  EXPECT_EQ(RegReadText(key, "text", ""), "C:\\a \"quoted\" b");
  EXPECT_EQ(RegValueType(key, "expand"), 2u);
  EXPECT_EQ(RegReadText(key, "expand", ""), expand);
  EXPECT_EQ(RegReadText(key, "number", ""), "4294967295");
  EXPECT_EQ(RegReadText(key, "small", ""), "42");
  EXPECT_EQ(RegReadText(key, "binary", ""), "01ABFF");
  EXPECT_EQ(RegReadText(key, "multi", ""), "one\r\ntwo\r\nthree");
  EXPECT_EQ(RegReadText(key, "", ""), "default");
  EXPECT_EQ(RegReadText(key + "\\Sub", "inner", ""), "x");

  if (!keep) {
    EXPECT_TRUE(RegDeleteKeyPath(key, true));
    EXPECT_FALSE(RegKeyExists(key));
    RegDeleteKeyPath("HKCU\\Software\\kxsetup-tests", false);  // once no other test uses it
  }
}

}  // namespace
