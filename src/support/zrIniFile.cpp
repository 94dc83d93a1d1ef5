#include "support/zrIniFile.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

namespace {

// Sections up to this many lines are searched line by line; longer ones get a key index.
constexpr size_t kIndexThreshold = 16;

// The key part of a line: the text before its first "=" (the whole line when it has none).
std::string_view KeyOf(const std::string& line) {
  return std::string_view(line).substr(0, line.find('='));
}

std::string KeyIndexName(std::string_view key) { return UpperCaseText(std::string(key)); }

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

// A line break inside a key or value would split the entry into several lines of the file
// (and could even forge a section header), so it is written as a blank.
std::string AsOneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

// The folder part of a path in either separator style, "" when there is none.
std::string FolderOf(const std::string& path) {
  size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// Removes blanks and TABs around the first "=", unless the line begins with it.
void TrimAroundEquals(std::string& line) {
  size_t equals = line.find('=');
  if (equals == std::string::npos || equals == 0) return;
  size_t keyEnd = equals;
  while (keyEnd > 0 && IsBlankOrTab(line[keyEnd - 1])) --keyEnd;
  line.erase(keyEnd, equals - keyEnd);
  equals = keyEnd;
  if (equals == 0) return;
  size_t valueStart = equals + 1;
  while (valueStart < line.size() && IsBlankOrTab(line[valueStart])) ++valueStart;
  line.erase(equals + 1, valueStart - equals - 1);
}

// Removes one pair of equal quotes (double or single) around the value.
void UnquoteValue(std::string& line) {
  size_t equals = line.find('=');
  if (equals == std::string::npos || equals == 0 || line.size() - equals - 1 < 2) return;
  char first = line[equals + 1];
  if ((first != '"' && first != '\'') || line.back() != first) return;
  line.pop_back();
  line.erase(equals + 1, 1);
}

}  // namespace

TIniDefaults& IniDefaults() {
  static TIniDefaults defaults;
  return defaults;
}

std::string IniFullName(const std::string& fileName) {
  if (fileName.empty() || fileName.find_first_of("\\/:") != std::string::npos) return fileName;
  return WithTrailingBackslash(os::WindowsDir()) + fileName;
}

// ---------------------------------------------------------------------------------------------
// TSectionList

int TSectionList::Add(const std::string& name, TIniLines lines) {
  entries_.push_back({name, std::move(lines), {}, false});
  return Count() - 1;
}

void TSectionList::Delete(int index) {
  entries_.erase(entries_.begin() + index);
  if (LastFound >= Count()) LastFound = 0;
}

void TSectionList::Clear() {
  entries_.clear();
  LastFound = 0;
}

int TSectionList::IndexOf(std::string_view name) {
  int count = Count();
  int start = LastFound >= 0 && LastFound < count ? LastFound : 0;
  for (int step = 0; step < count; ++step) {
    int index = (start + step) % count;
    if (SameText(entries_[index].name, name)) {
      LastFound = index;
      return index;
    }
  }
  return -1;
}

void TSectionList::DropIndex(Entry& entry) {
  entry.keyIndex.clear();
  entry.indexed = false;
}

int TSectionList::FindKey(int section, std::string_view key) {
  Entry& entry = entries_[section];
  if (!entry.indexed && entry.lines.size() > kIndexThreshold) {
    for (size_t i = 0; i < entry.lines.size(); ++i) {
      const TIniLine& line = entry.lines[i];
      if (!line.Comment)
        entry.keyIndex.try_emplace(KeyIndexName(KeyOf(line.Text)), static_cast<int>(i));
    }
    entry.indexed = true;
  }
  if (entry.indexed) {
    auto found = entry.keyIndex.find(KeyIndexName(key));
    return found == entry.keyIndex.end() ? -1 : found->second;
  }
  for (size_t i = 0; i < entry.lines.size(); ++i) {
    const TIniLine& line = entry.lines[i];
    if (!line.Comment && SameText(KeyOf(line.Text), key)) return static_cast<int>(i);
  }
  return -1;
}

void TSectionList::AppendLine(int section, TIniLine line) {
  Entry& entry = entries_[section];
  if (entry.indexed && !line.Comment) {
    entry.keyIndex.try_emplace(KeyIndexName(KeyOf(line.Text)),
                               static_cast<int>(entry.lines.size()));
  }
  entry.lines.push_back(std::move(line));
}

void TSectionList::SetLineText(int section, int line, std::string text) {
  Entry& entry = entries_[section];
  TIniLine& target = entry.lines[line];
  if (entry.indexed && (target.Comment || !SameText(KeyOf(target.Text), KeyOf(text)))) {
    DropIndex(entry);
  }
  target.Text = std::move(text);
}

size_t TSectionList::RemoveKey(int section, std::string_view key) {
  Entry& entry = entries_[section];
  size_t removed = std::erase_if(entry.lines, [key](const TIniLine& line) {
    return !line.Comment && SameText(KeyOf(line.Text), key);
  });
  if (removed > 0) DropIndex(entry);
  return removed;
}

TIniLines TSectionList::TakeLines(int section) {
  Entry& entry = entries_[section];
  DropIndex(entry);
  TIniLines lines = std::move(entry.lines);
  entry.lines.clear();
  return lines;
}

// ---------------------------------------------------------------------------------------------
// TzrIniFile: life cycle

TzrIniFile::TzrIniFile(const std::string& fileName, bool readOnly, bool skipComments,
                       bool skipNoEquals, bool trimEquals, bool unquote)
    : ReadOnly(readOnly),
      SkipComments(skipComments),
      SkipNoEquals(skipNoEquals),
      TrimEquals(trimEquals),
      Unquote(unquote) {
  Open(fileName);
}

TzrIniFile::~TzrIniFile() {
  try {
    UpdateFile();
  } catch (const std::exception&) {
    // Destructors cannot report; callers that care flush with UpdateFile first.
  }
}

void TzrIniFile::Open(const std::string& fileName) {
  UpdateFile();
  handle_.Close();
  Sections.Clear();
  Preamble.clear();
  Modified = false;
  FileName = IniFullName(fileName);
  if (!FileName.empty()) Load();
}

void TzrIniFile::Load() {
  UpdateFile();
  Cursor = 0;
  handle_.Close();
  Sections.Clear();
  Preamble.clear();
  Modified = false;
  if (FileName.empty() || !FileExists(FileName)) return;

  // A writable object keeps the file open so that nobody else writes it meanwhile; a read-only
  // one lets others read and write.
  os::File file =
      os::File::Open(FileName, ReadOnly ? os::File::Mode::kReadShared : os::File::Mode::kReadWrite);
  if (!file.IsOpen()) ThrowError("Cannot open file %s", FileName.c_str());
  std::string text;
  if (!file.ReadToEnd(text)) ThrowError("Cannot read file %s", FileName.c_str());
  ParseText(text);
  Modified = MergeDuplicateSections();
  // A writable object holds the file so that nobody else writes it until we write it back.
  if (!ReadOnly) handle_ = std::move(file);
}

void TzrIniFile::ParseText(const std::string& text) {
  int current = -1;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    AddLine(text.substr(start, end - start), current);
    start = end + 1;
    if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n') {
      ++start;
    }
  }
}

void TzrIniFile::AddLine(std::string line, int& current) {
  // Trim also removes a lone end-of-file mark (character 26).
  line = Trim(line);
  if (line.empty()) return;
  if (SkipComments && line[0] == ';') {
    if (current < 0) {
      Preamble.push_back(std::move(line));
    } else {
      Sections.AppendLine(current, {std::move(line), true});
    }
    return;
  }
  if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
    current = Sections.Add(line.substr(1, line.size() - 2));
    return;
  }
  if (TrimEquals) TrimAroundEquals(line);
  if (Unquote) UnquoteValue(line);
  if (SkipNoEquals && line.find('=') == std::string::npos) return;
  if (current >= 0) Sections.AppendLine(current, {std::move(line), false});
}

bool TzrIniFile::MergeDuplicateSections() {
  if (Sections.Count() < 2) return false;
  struct Survivor {
    std::string name;
    TIniLines lines;
    bool dropped = false;
  };
  std::vector<Survivor> survivors;
  std::unordered_map<std::string, size_t> byName;
  bool merged = false;
  for (int i = 0; i < Sections.Count(); ++i) {
    auto [it, fresh] = byName.try_emplace(UpperCaseText(Sections.Name(i)), survivors.size());
    if (fresh) {
      survivors.push_back({Sections.Name(i), Sections.TakeLines(i)});
      continue;
    }
    merged = true;
    Survivor& kept = survivors[it->second];
    TIniLines later = Sections.TakeLines(i);
    if (!MergeCallback || MergeCallback(MergeData, kept.name, kept.lines, later)) {
      kept.lines.insert(kept.lines.end(), std::make_move_iterator(later.begin()),
                        std::make_move_iterator(later.end()));
      continue;
    }
    // The later section takes the place: it stays where it is, with its own lines first.
    TIniLines lines = std::move(later);
    lines.insert(lines.end(), std::make_move_iterator(kept.lines.begin()),
                 std::make_move_iterator(kept.lines.end()));
    kept.dropped = true;
    it->second = survivors.size();
    survivors.push_back({Sections.Name(i), std::move(lines)});
  }
  Sections.Clear();
  for (Survivor& survivor : survivors) {
    if (!survivor.dropped) Sections.Add(survivor.name, std::move(survivor.lines));
  }
  return merged;
}

void TzrIniFile::UpdateFile() {
  if (!Modified) return;
  if (FileName.empty() || ReadOnly) {
    Modified = false;
    return;
  }
  std::string image = FileImage();
  if (!handle_.IsOpen()) {
    std::string folder = FolderOf(FileName);
    if (!folder.empty()) ForceFolders(folder);
    handle_ = os::File::Open(FileName, os::File::Mode::kReadWrite);
    if (!handle_.IsOpen()) ThrowError("Cannot write file %s", FileName.c_str());
  }
  // Rewritten in place through the handle we hold: there is no moment in which another
  // program could write the file, and hidden or system files can be written too.
  bool written = handle_.Seek(0) && handle_.Write(image.data(), image.size()) && handle_.Truncate();
  if (!written) ThrowError("Cannot write file %s", FileName.c_str());
  Modified = false;
}

std::string TzrIniFile::FileImage() {
  std::vector<std::string> lines;
  GetStrings(lines);
  std::string image;
  for (const std::string& line : lines) {
    image += line;
    image += "\r\n";
  }
  return image;
}

// ---------------------------------------------------------------------------------------------
// TzrIniFile: key operations

int TzrIniFile::FindSection(const std::string& name, bool create) {
  int count = Sections.Count();
  int start = Cursor >= 0 && Cursor < count ? Cursor : 0;
  for (int step = 0; step < count; ++step) {
    int index = (start + step) % count;
    if (SameText(Sections.Name(index), name)) {
      Cursor = index;
      return index;
    }
  }
  if (!create) return -1;
  Cursor = Sections.Add(name);
  return Cursor;
}

std::string TzrIniFile::ReadString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) {
  int index = FindSection(section, false);
  if (index < 0) return defaultValue;
  int line = Sections.FindKey(index, key);
  if (line < 0) return defaultValue;
  const std::string& text = Sections.Lines(index)[line].Text;
  size_t equals = text.find('=');
  return equals == std::string::npos ? std::string() : text.substr(equals + 1);
}

void TzrIniFile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
  if (key.empty()) {
    if (!section.empty() || !value.empty()) {
      EraseSection(section);
    } else {
      UpdateFile();
    }
    return;
  }
  int index = FindSection(section, true);
  std::string line = key + "=" + value;
  int found = Sections.FindKey(index, key);
  if (found < 0) {
    Sections.AppendLine(index, {std::move(line), false});
    Modified = true;
  } else if (Sections.Lines(index)[found].Text != line) {
    Sections.SetLineText(index, found, std::move(line));
    Modified = true;
  }
}

int32_t TzrIniFile::ReadInteger(const std::string& section, const std::string& key,
                                int32_t defaultValue) {
  std::string text = ReadString(section, key, "");
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text = "$" + text.substr(2, 255);
  }
  return TextToInt(text).value_or(defaultValue);
}

void TzrIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

bool TzrIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TzrIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TzrIniFile::ReadSection(const std::string& section, std::vector<std::string>& target) {
  int index = Sections.IndexOf(section);
  if (index < 0) return;
  for (const TIniLine& line : Sections.Lines(index)) {
    if (!line.Comment) target.emplace_back(KeyOf(line.Text));
  }
}

void TzrIniFile::ReadSections(std::vector<std::string>& target) {
  target.clear();
  for (int i = 0; i < Sections.Count(); ++i) target.push_back(Sections.Name(i));
}

void TzrIniFile::ReadSectionValues(const std::string& section, std::vector<std::string>& target) {
  int index = Sections.IndexOf(section);
  if (index < 0) return;
  std::vector<std::string> values;
  std::unordered_set<std::string> keys;
  for (const TIniLine& line : Sections.Lines(index)) {
    if (line.Comment) continue;
    values.push_back(line.Text);
    keys.insert(UpperCaseText(std::string(KeyOf(line.Text))));
  }
  for (std::string& former : target) {
    if (!keys.contains(UpperCaseText(std::string(KeyOf(former))))) {
      values.push_back(std::move(former));
    }
  }
  target = std::move(values);
}

void TzrIniFile::WriteSectionValues(const std::string& section,
                                    const std::vector<std::string>& source) {
  for (const std::string& line : source) {
    size_t equals = line.find('=');
    // An empty key would make WriteString erase the whole section.
    if (equals == std::string::npos || equals == 0) continue;
    WriteString(section, line.substr(0, equals), line.substr(equals + 1));
  }
}

void TzrIniFile::EraseSection(const std::string& section) {
  int index = Sections.IndexOf(section);
  if (index < 0) return;
  Sections.Delete(index);
  Sections.LastFound = 0;
  if (Cursor >= Sections.Count()) Cursor = 0;
  Modified = true;
}

void TzrIniFile::DeleteKey(const std::string& section, const std::string& key) {
  // Merged duplicate sections may hold a key more than once; a deleted key must not come back
  // with the value of a later line.
  Sections.RemoveKey(FindSection(section, true), key);
  Modified = true;
}

void TzrIniFile::GetStrings(std::vector<std::string>& target) {
  if (!Preamble.empty()) {
    for (const std::string& line : Preamble) target.push_back(AsOneLine(line));
    target.emplace_back();
  }
  for (int i = 0; i < Sections.Count(); ++i) {
    const TIniLines& lines = Sections.Lines(i);
    if (lines.empty()) continue;
    target.push_back(AsOneLine("[" + Sections.Name(i) + "]"));
    for (const TIniLine& line : lines) target.push_back(AsOneLine(line.Text));
    target.emplace_back();
  }
}
