#include "uninstall/InstallLog.h"

#include <algorithm>
#include <cstdlib>

#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrIniFile.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

const char kFileTimesSection[] = "FileTimes";

namespace {

// The "key=value" lines of a section, split at the first "=".
std::vector<std::pair<std::string, std::string>> SectionPairs(const std::string& log,
                                                              const std::string& section) {
  std::vector<std::string> lines;
  IniListValues(log, section, lines);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& line : lines) pairs.emplace_back(NameOf(line), ValueOf(line));
  return pairs;
}

std::vector<std::string> SectionKeys(const std::string& log, const std::string& section) {
  std::vector<std::string> keys;
  IniListKeys(log, section, keys);
  return keys;
}

// The programs of a section in the order of their sequence numbers.
bool ReadPrograms(const std::string& log, const std::string& section,
                  std::vector<TLoggedProgram>& programs, std::string& bad) {
  auto pairs = SectionPairs(log, section);
  std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
    return std::atol(a.first.c_str()) < std::atol(b.first.c_str());
  });
  for (const auto& [number, record] : pairs) {
    TLoggedProgram program;
    if (!ParseLoggedProgram(record, program)) {
      bad = section + ": " + record;
      return false;
    }
    programs.push_back(program);
  }
  return true;
}

// A quoted field of a record: from the quote at pos to a quote followed by "," or the end.
bool QuotedField(const std::string& text, size_t& pos, std::string& field) {
  if (pos >= text.size() || text[pos] != '\'') return false;
  size_t close = pos + 1;
  while (true) {
    close = text.find('\'', close);
    if (close == std::string::npos) return false;
    if (close + 1 == text.size() || text[close + 1] == ',') break;
    ++close;
  }
  field = text.substr(pos + 1, close - pos - 1);
  pos = close + 1;
  return true;
}

bool NumberField(const std::string& text, size_t& pos, int& number) {
  const size_t end = text.find(',', pos);
  const std::string field = text.substr(pos, end == std::string::npos ? end : end - pos);
  if (field.empty() || field.find_first_not_of("-0123456789") != std::string::npos) return false;
  number = std::atoi(field.c_str());
  pos = end == std::string::npos ? text.size() : end;
  return true;
}

bool Comma(const std::string& text, size_t& pos) {
  if (pos >= text.size() || text[pos] != ',') return false;
  ++pos;
  return true;
}

}  // namespace

bool ParseLoggedValue(const std::string& text, TLoggedValue& value) {
  const size_t mark = text.find("\\'");
  if (mark == std::string::npos || mark == 0 || text.size() < mark + 3 || text.back() != '\'') {
    return false;
  }
  value.Key = text.substr(0, mark);
  value.Name = text.substr(mark + 2, text.size() - mark - 3);
  return true;
}

bool ParseLoggedIniKey(const std::string& text, TLoggedIniKey& key) {
  if (text.size() < 8 || text.front() != '\'' || text.back() != '\'') return false;
  const std::string inner = text.substr(1, text.size() - 2);
  const size_t first = inner.find("','");
  const size_t last = inner.rfind("','");
  if (first == std::string::npos || last == first) return false;
  key.File = inner.substr(0, first);
  key.Section = inner.substr(first + 3, last - first - 3);
  key.Key = inner.substr(last + 3);
  return !key.File.empty();
}

bool ParseLoggedProgram(const std::string& text, TLoggedProgram& program) {
  size_t pos = 0;
  int wait = 1;
  int check = 0;
  const bool parsed = QuotedField(text, pos, program.CommandLine) && Comma(text, pos) &&
                      QuotedField(text, pos, program.Arguments) && Comma(text, pos) &&
                      QuotedField(text, pos, program.WorkingFolder) && Comma(text, pos) &&
                      NumberField(text, pos, program.ShowCode) && Comma(text, pos) &&
                      QuotedField(text, pos, program.Message) && Comma(text, pos) &&
                      NumberField(text, pos, wait) && Comma(text, pos) &&
                      NumberField(text, pos, check) && pos == text.size();
  program.Wait = wait != 0;
  program.CheckExitCode = check != 0;
  return parsed && !program.CommandLine.empty();
}

int64_t TInstallLogRecords::RecordedTime(const std::string& file) const {
  const auto recorded = FileTimes.find(UpperCaseText(file));
  return recorded == FileTimes.end() ? 0 : recorded->second;
}

std::string TInstallLogRecords::Text(const std::string& key, const std::string& fallback) const {
  for (const auto& [name, text] : Strings) {
    if (SameText(name, key) && !text.empty()) return ReplaceAll(text, "||", "\n");
  }
  return fallback;
}

bool ReadInstallLog(const std::string& path, TInstallLogRecords& records, std::string& reason) {
  std::string content;
  if (!FileExists(path) || !TryReadWholeFile(path, content)) {
    reason = Format("The install log \"%s\" cannot be read: %s", path.c_str(),
                    os::LastErrorMessage().c_str());
    return false;
  }
  // Values keep their quotes: the records quote their fields themselves.
  IniDefaults().Unquote = false;
  records.AppID = IniReadString(path, "Strings", "AppID", "");
  if (content.find('\0') != std::string::npos || records.AppID.empty()) {
    reason = Format("The install log \"%s\" is damaged: it names no application.", path.c_str());
    return false;
  }
  records.Files = SectionKeys(path, "CopyFiles");
  records.SharedFiles = SectionKeys(path, "SharedFiles");
  records.Servers = SectionKeys(path, "RegServers");
  records.Shortcuts = SectionKeys(path, "Shortcuts");
  records.Folders = SectionKeys(path, "CreateDirs");
  records.Keys = SectionKeys(path, "CreateKeys");
  for (const auto& [name, file] : SectionPairs(path, "RegFonts"))
    records.Fonts.push_back({name, file});
  for (const auto& [number, text] : SectionPairs(path, "SharedAssemblies")) {
    records.Assemblies.push_back(text);
  }
  for (const auto& [file, time] : SectionPairs(path, kFileTimesSection)) {
    records.FileTimes[UpperCaseText(file)] = std::atoll(time.c_str());
  }
  records.Strings = SectionPairs(path, "Strings");
  std::string bad;
  for (const std::string& text : SectionKeys(path, "AddReg")) {
    TLoggedValue value;
    if (!ParseLoggedValue(text, value)) bad = "AddReg: " + text;
    records.Values.push_back(value);
  }
  for (const std::string& text : SectionKeys(path, "AddIni")) {
    TLoggedIniKey key;
    if (!ParseLoggedIniKey(text, key)) bad = "AddIni: " + text;
    records.IniKeys.push_back(key);
  }
  if (bad.empty()) ReadPrograms(path, "PreRunApp", records.ProgramsBefore, bad);
  if (bad.empty()) ReadPrograms(path, "RunApp", records.ProgramsAfter, bad);
  IniClose(path);
  if (!bad.empty()) {
    reason = Format("The install log \"%s\" is damaged: cannot read the record %s", path.c_str(),
                    bad.c_str());
    return false;
  }
  return true;
}
