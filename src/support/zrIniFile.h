// zrIniFile: the engine's own INI file engine.
//
// A TzrIniFile loads a whole INI file into memory, lets the caller edit it there and writes it
// back in one piece when it is flushed (UpdateFile) or destroyed. Lines are normalised as they
// are read (blanks around "=" removed, quotes optionally stripped, lines without "=" dropped),
// duplicate sections are merged without losing a line, and comment lines keep their place but
// are invisible to key operations. A writable object keeps the file open for reading for its
// lifetime (and recreates it to write it back), so that on Windows other programs may read the
// file meanwhile but not write it.
//
// Used by the INI cache of zrRegIni (INI items, INI-backed variables, the install log) and by
// kxtool. One object is used by one thread at a time; the process-wide defaults are set by the
// driver at start, on the main thread, before any other thread exists.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "os/os.h"

// Options the engine uses whenever it creates INI objects itself (the INI cache).
struct TIniDefaults {
  bool SkipComments = true;
  bool SkipNoEquals = true;
  bool TrimEquals = true;
  bool Unquote = true;  // the driver switches it off at start, so values keep their quotes
  // The engine's own INI files instead of the system's profile functions. The OS layer offers
  // no profile functions, so every INI access goes through this engine whatever the switch says.
  bool OwnEngine = true;
};
TIniDefaults& IniDefaults();

// The path the engine reads and writes for an INI file name: a name without a folder part
// ("setup.ini") is a file in the Windows folder.
std::string IniFullName(const std::string& fileName);

// One kept line of a section: "key=value" (or other text when lines without "=" are kept), or
// a comment, which key operations never see.
struct TIniLine {
  std::string Text;
  bool Comment = false;
};
using TIniLines = std::vector<TIniLine>;

// The sections of a file in file order, each with its name (without brackets) and lines.
// Lines change only through the members below, which keep a section's key index in step.
class TSectionList {
 public:
  int Count() const { return static_cast<int>(entries_.size()); }
  const std::string& Name(int index) const { return entries_[index].name; }
  const TIniLines& Lines(int index) const { return entries_[index].lines; }

  int Add(const std::string& name, TIniLines lines = {});  // the new index
  void Delete(int index);
  void Clear();

  // The index of the section called name (case ignored), -1 when there is none. The search
  // starts at LastFound and wraps round, and a hit is remembered there, so that runs of
  // accesses to one section cost one comparison.
  int IndexOf(std::string_view name);

  // The index of the first non-comment line of the section whose key (the text before the
  // first "=") is key, case ignored; -1 when there is none.
  int FindKey(int section, std::string_view key);
  void AppendLine(int section, TIniLine line);
  // Replaces the text of a line; the new text should have the same key.
  void SetLineText(int section, int line, std::string text);
  // Removes every non-comment line of the key; the number removed.
  size_t RemoveKey(int section, std::string_view key);
  // Moves the lines out, leaving the section empty.
  TIniLines TakeLines(int section);

  int LastFound = 0;

 private:
  struct Entry {
    std::string name;
    TIniLines lines;
    // Upper-cased key -> its first line. Built when a long section is first searched, so that
    // sections of thousands of keys (install logs) are not searched line by line.
    std::unordered_map<std::string, int> keyIndex;
    bool indexed = false;
  };
  static void DropIndex(Entry& entry);
  std::vector<Entry> entries_;
};

class TzrIniFile {
 public:
  // Decides which of two sections of the same name keeps its place: true keeps the earlier
  // one, false the later one. The lines of the other are appended to the survivor's either
  // way, so no line is lost; the survivor's own lines come first and win lookups.
  using TMergeCallback = std::function<bool(uint32_t data, const std::string& name,
                                            const TIniLines& earlier, const TIniLines& later)>;

  // Opens fileName (see Open). Throws KxError when the file exists but cannot be read.
  TzrIniFile(const std::string& fileName, bool readOnly, bool skipComments, bool skipNoEquals,
             bool trimEquals, bool unquote);
  // Writes pending changes; a failure is not reported here (call UpdateFile to see it).
  virtual ~TzrIniFile();
  TzrIniFile(const TzrIniFile&) = delete;
  TzrIniFile& operator=(const TzrIniFile&) = delete;

  // The value of the first line of the section whose key is key (case ignored), or the
  // default.
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue);
  // Sets key=value, creating the section and the line when missing. An empty key erases the
  // section; section, key and value all empty flush the file.
  virtual void WriteString(const std::string& section, const std::string& key,
                           const std::string& value);
  // Decimal, "$hex" or "0xhex"; the default when the value is missing or not a number.
  virtual int32_t ReadInteger(const std::string& section, const std::string& key,
                              int32_t defaultValue);
  virtual void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  virtual bool ReadBool(const std::string& section, const std::string& key, bool defaultValue);
  virtual void WriteBool(const std::string& section, const std::string& key, bool value);
  // Appends the keys of the section to target (which is not cleared).
  virtual void ReadSection(const std::string& section, std::vector<std::string>& target);
  // Replaces target by the section names, in file order.
  virtual void ReadSections(std::vector<std::string>& target);
  // When the section exists, target becomes its lines followed by those former lines of target
  // whose key the section does not have; otherwise target is left alone.
  virtual void ReadSectionValues(const std::string& section, std::vector<std::string>& target);
  // WriteString for every "key=value" line of source with a non-empty key.
  virtual void WriteSectionValues(const std::string& section,
                                  const std::vector<std::string>& source);
  virtual void EraseSection(const std::string& section);
  // Removes every line of the key (a missing section is created empty, and never written).
  virtual void DeleteKey(const std::string& section, const std::string& key);
  // Appends the file image, one text per line: the comment lines before the first section
  // and an empty line, then for each section with at least one line its header, its lines
  // and an empty line.
  virtual void GetStrings(std::vector<std::string>& target);
  // Writes the image back when Modified (never for read-only objects). Throws KxError when the
  // file cannot be written; the changes then stay pending (Modified remains true).
  virtual void UpdateFile();

  // Flushes the current file, then loads fileName (see IniFullName) into a fresh image. Set
  // MergeCallback before opening (construct with an empty name) for it to take part.
  void Open(const std::string& fileName);
  // Flushes pending changes, then reads FileName into a fresh image; a missing file gives an
  // empty one. Throws KxError "Cannot open file ..." when the file exists but cannot be read.
  void Load();

  bool IsFileOpen() const { return handle_.IsOpen(); }

  std::string FileName;
  bool Modified = false;
  TSectionList Sections;
  std::vector<std::string> Preamble;  // comment lines before the first section header
  int Cursor = 0;  // the section found last by the key operations' section search
  bool ReadOnly = false;
  TMergeCallback MergeCallback;
  uint32_t MergeData = 0;
  bool SkipComments = true;
  bool SkipNoEquals = true;
  bool TrimEquals = true;
  bool Unquote = false;

 private:
  // The index of the section, searching circularly from Cursor; with create, a missing section
  // is appended. -1 when missing and not created.
  int FindSection(const std::string& name, bool create);
  void ParseText(const std::string& text);
  void AddLine(std::string line, int& current);
  bool MergeDuplicateSections();
  std::string FileImage();

  os::File handle_;
};
