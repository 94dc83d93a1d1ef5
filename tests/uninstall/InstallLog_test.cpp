#include "uninstall/InstallLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The records of the install log as the run writes them, and texts a damaged log may hold: each
// is taken apart into its fields, or refused; nothing is guessed.
TEST(InstallLogRecordTest, RecordsAreTakenApartOrRefused) {
  struct Case {
    std::string text;
    bool parsed;
    std::vector<std::string> fields;
  };
  const Case values[] = {
      {"HKCU\\Software\\Kx\\'Path'", true, {"HKCU\\Software\\Kx", "Path"}},
      {"HKCU\\Software\\Kx\\''", true, {"HKCU\\Software\\Kx", ""}},  // the default value
      {"HKCU\\Software\\Kx\\'a\\b c'", true, {"HKCU\\Software\\Kx", "a\\b c"}},
      {"HKCU\\Software\\Kx\\Path", false, {}},
      {"\\'Path'", false, {}},
      {"HKCU\\Kx\\'open", false, {}},
  };
  for (const Case& c : values) {
    TLoggedValue value;
    EXPECT_EQ(ParseLoggedValue(c.text, value), c.parsed) << c.text;
    if (c.parsed) {
      EXPECT_EQ((std::vector<std::string>{value.Key, value.Name}), c.fields) << c.text;
    }
  }
  const Case iniKeys[] = {
      {"'C:\\a b\\x.ini','Sect','Key'", true, {"C:\\a b\\x.ini", "Sect", "Key"}},
      {"'C:\\x.ini','','Key'", true, {"C:\\x.ini", "", "Key"}},
      {"'C:\\x.ini','Sect'", false, {}},
      {"C:\\x.ini,Sect,Key", false, {}},
  };
  for (const Case& c : iniKeys) {
    TLoggedIniKey key;
    EXPECT_EQ(ParseLoggedIniKey(c.text, key), c.parsed) << c.text;
    if (c.parsed) {
      EXPECT_EQ((std::vector<std::string>{key.File, key.Section, key.Key}), c.fields);
    }
  }
}

TEST(InstallLogRecordTest, ProgramRecordsKeepTheirQuotedFieldsWhole) {
  TLoggedProgram program;
  ASSERT_TRUE(ParseLoggedProgram("'C:\\p\\a.exe','/x \"it's\"','C:\\w',3,'Bye, now',0,1", program));
  EXPECT_EQ(program.CommandLine, "C:\\p\\a.exe");
  EXPECT_EQ(program.Arguments, "/x \"it's\"");
  EXPECT_EQ(program.WorkingFolder, "C:\\w");
  EXPECT_EQ(program.ShowCode, 3);
  EXPECT_EQ(program.Message, "Bye, now");
  EXPECT_FALSE(program.Wait);
  EXPECT_TRUE(program.CheckExitCode);
  for (const char* bad : {"", "'a.exe'", "'a.exe','','',x,'',1,1", "'a.exe','','',1,'',1",
                          "'','','',1,'',1,1", "'a.exe','','',1,'',1,1,extra"}) {
    EXPECT_FALSE(ParseLoggedProgram(bad, program)) << bad;
  }
}
