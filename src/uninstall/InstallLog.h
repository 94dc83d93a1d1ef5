// What an installation left for its removal, read from its install log: every section the run
// writes, its records taken apart into their fields. Reading changes nothing on the machine, so
// a log that cannot be read whole stops the removal before it begins.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A registry value the installation wrote: "KEY\'NAME'" in the log.
struct TLoggedValue {
  std::string Key;
  std::string Name;
};

// An INI key the installation wrote: "'FILE','SECTION','KEY'" in the log.
struct TLoggedIniKey {
  std::string File;
  std::string Section;
  std::string Key;
};

// A program to run before or after the removal: "'CMD','ARG','DIR',SHOW,'MSG',WAIT,CHECK".
struct TLoggedProgram {
  std::string CommandLine;
  std::string Arguments;
  std::string WorkingFolder;
  int ShowCode = 1;  // 1 normal, 2 maximized, 3 minimized, 0 hidden
  std::string Message;
  bool Wait = true;
  bool CheckExitCode = false;
};

struct TLoggedFont {
  std::string Name;  // its value name under the fonts key
  std::string File;
};

struct TInstallLogRecords {
  std::string AppID;
  std::vector<std::string> Files;
  std::vector<std::string> SharedFiles;
  std::vector<std::string> Servers;
  std::vector<TLoggedFont> Fonts;
  std::vector<TLoggedValue> Values;
  std::vector<TLoggedIniKey> IniKeys;
  std::vector<std::string> Shortcuts;
  std::vector<std::string> Folders;
  std::vector<std::string> Keys;
  std::vector<std::string> Assemblies;  // gacutil's text for each: name, data and OPAQUE part
  std::vector<TLoggedProgram> ProgramsBefore;
  std::vector<TLoggedProgram> ProgramsAfter;
  // The write time each installed file had when the log was written, by path (upper case).
  std::map<std::string, int64_t> FileTimes;
  // The texts of the removal, from the log's Strings section (the installation's language).
  std::vector<std::pair<std::string, std::string>> Strings;

  int64_t RecordedTime(const std::string& file) const;  // 0 when none was recorded
  std::string Text(const std::string& key, const std::string& fallback) const;
};

// The section that keeps each installed file's write time, beside the sections the uninstaller
// reads for what was installed.
extern const char kFileTimesSection[];

// Reads the log at path into records; false with a reason that names the log when the file is
// missing, is not a text file, or names no application (every log the engine writes has
// Strings/AppID), or when a record cannot be taken apart.
bool ReadInstallLog(const std::string& path, TInstallLogRecords& records, std::string& reason);

// The record parsers, for the tests: false when the text is not of the form.
bool ParseLoggedValue(const std::string& text, TLoggedValue& value);
bool ParseLoggedIniKey(const std::string& text, TLoggedIniKey& key);
bool ParseLoggedProgram(const std::string& text, TLoggedProgram& program);
