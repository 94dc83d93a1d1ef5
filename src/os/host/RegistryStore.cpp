// The host registry store; see RegistryStore.h.
#include "os/host/RegistryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "os/host/HostErrors.h"
#include "os/host/HostPaths.h"

namespace os::host {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;
// Windows refuses keys nested deeper than this; the limit also bounds every recursion here.
constexpr size_t kMaxDepth = 512;
// Far beyond any registry a setup meets: a larger file is taken as damaged, not read into memory.
constexpr off_t kMaxFileSize = off_t{512} << 20;
// Hex data is wrapped as exports wrap it, so that lines stay under 80 columns.
constexpr size_t kHexLineWidth = 76;

struct RootName {
  RegRoot root;
  std::string_view name;
};
constexpr RootName kRootNames[] = {
    {RegRoot::kClassesRoot, "HKEY_CLASSES_ROOT"},
    {RegRoot::kCurrentUser, "HKEY_CURRENT_USER"},
    {RegRoot::kLocalMachine, "HKEY_LOCAL_MACHINE"},
    {RegRoot::kUsers, "HKEY_USERS"},
};

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One to eight hexadecimal digits and nothing else.
bool ParseHex32(std::string_view digits, uint32_t& value) {
  if (digits.empty() || digits.size() > 8) return false;
  value = 0;
  for (char c : digits) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

std::string Hex32(uint32_t value, int width) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), '0');
  return text;
}

bool IsUtf16Type(uint32_t type) {
  return type == kRegString || type == kRegExpandString || type == kRegMultiString;
}

std::vector<uint8_t> Widen(const uint8_t* data, size_t size) {
  std::vector<uint8_t> wide(size * 2, 0);
  for (size_t i = 0; i < size; ++i) wide[2 * i] = data[i];
  return wide;
}

// Units beyond one byte have no ANSI form; Windows gives "?" for them too. An odd last byte is
// no unit and is not shown.
std::vector<uint8_t> Narrow(const std::vector<uint8_t>& wide) {
  std::vector<uint8_t> narrow(wide.size() / 2);
  for (size_t i = 0; i < narrow.size(); ++i) {
    narrow[i] = wide[2 * i + 1] == 0 ? wide[2 * i] : '?';
  }
  return narrow;
}

// ---------------------------------------------------------------------------------------------
// Reading the file

class Parser {
 public:
  Parser(std::string_view text, RegistryTree& tree) : text_(text), tree_(tree) {}

  bool Run(std::string& error) {
    bool ok = ParseAll();
    if (!ok) error = error_;
    return ok;
  }

 private:
  bool ParseAll() {
    if (text_.starts_with("\xFF\xFE") || text_.starts_with("\xFE\xFF")) {
      return Error("the file is UTF-16 text; the store is 8-bit text");
    }
    std::string_view line;
    if (!NextLine(line) || TrimRight(line) != kHeader) {
      return Error("the first line is not \"" + std::string(kHeader) + "\"");
    }
    while (NextLine(line)) {
      std::string_view content = TrimLeft(line);
      if (TrimRight(content).empty() || content.front() == ';') continue;
      if (!(content.front() == '[' ? ParseHeader(content) : ParseValue(content))) return false;
    }
    return true;
  }

  bool NextLine(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = end + 1;
    ++lineNumber_;
    return true;
  }

  bool Error(const std::string& message) {
    error_ = "line " + std::to_string(lineNumber_) + ": " + message;
    return false;
  }

  bool ParseHeader(std::string_view line) {
    line = TrimRight(line);
    if (line.size() < 2 || line.back() != ']') return Error("a key header must end with \"]\"");
    std::string_view inner = line.substr(1, line.size() - 2);
    if (inner.starts_with("-")) return Error("entries that delete keys have no place in a store");
    size_t slash = inner.find('\\');
    std::string_view rootName = inner.substr(0, slash);
    std::string_view path = slash == std::string_view::npos ? "" : inner.substr(slash + 1);
    const RootName* root = nullptr;
    for (const RootName& candidate : kRootNames) {
      if (EqualNoCase(candidate.name, rootName)) root = &candidate;
    }
    if (!root) return Error("unknown root \"" + std::string(rootName) + "\"");
    bool created = false;
    key_ = tree_.Create(root->root, path, created);
    if (!key_) return Error("malformed key path \"" + std::string(path) + "\"");
    return true;
  }

  bool ParseValue(std::string_view line) {
    std::string name;
    std::string_view rest = line.substr(1);
    if (line.front() == '"') {
      if (!ParseQuoted(rest, name)) return false;
    } else if (line.front() != '@') {
      return Error("neither a key, a value nor a comment");
    }
    if (!key_) return Error("a value before the first key");
    if (!IsValidValueName(name)) return Error("value name too long");
    rest = TrimLeft(rest);
    if (!rest.starts_with("=")) return Error("\"=\" expected after the value name");
    rest = TrimLeft(rest.substr(1));

    uint32_t type = kRegNone;
    std::vector<uint8_t> data;
    if (!ParseData(rest, type, data)) return false;
    key_->PutValue(name, type, std::move(data));
    return true;
  }

  bool ParseData(std::string_view rest, uint32_t& type, std::vector<uint8_t>& data) {
    if (rest.starts_with("\"")) {
      rest.remove_prefix(1);
      std::string text;
      if (!ParseQuoted(rest, text)) return false;
      if (!Trim(rest).empty()) return Error("text after the closing quote");
      type = kRegString;
      text.push_back('\0');
      data = Widen(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      return true;
    }
    if (StartsWithNoCase(rest, "dword:")) {
      uint32_t value = 0;
      if (!ParseHex32(Trim(rest.substr(6)), value)) return Error("dword: needs 1 to 8 hex digits");
      type = kRegDword;
      data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
      return true;
    }
    if (StartsWithNoCase(rest, "hex")) {
      rest.remove_prefix(3);
      type = kRegBinary;
      if (rest.starts_with("(")) {
        size_t close = rest.find(')');
        if (close == std::string_view::npos || !ParseHex32(rest.substr(1, close - 1), type)) {
          return Error("hex(N) needs a type number of 1 to 8 hex digits");
        }
        rest.remove_prefix(close + 1);
      }
      if (!rest.starts_with(":")) return Error("\":\" expected after hex");
      return ParseHexList(rest.substr(1), data);
    }
    if (rest.starts_with("-")) return Error("entries that delete values have no place in a store");
    return Error("unknown kind of value data");
  }

  // rest follows an opening quote; it is left after the closing one. A backslash escapes a
  // backslash or a quote; before anything else it stands for itself, as hand-written files
  // expect.
  bool ParseQuoted(std::string_view& rest, std::string& out) {
    for (size_t i = 0; i < rest.size(); ++i) {
      char c = rest[i];
      if (c == '\\' && i + 1 < rest.size() && (rest[i + 1] == '\\' || rest[i + 1] == '"')) {
        out += rest[++i];
      } else if (c == '"') {
        rest.remove_prefix(i + 1);
        return true;
      } else {
        out += c;
      }
    }
    return Error("a quoted text is not closed");
  }

  bool ParseHexList(std::string_view first, std::vector<uint8_t>& data) {
    std::string list(first);
    for (;;) {
      std::string_view trimmed = TrimRight(list);
      if (!trimmed.ends_with("\\")) break;
      list.resize(trimmed.size() - 1);
      std::string_view next;
      if (!NextLine(next)) return Error("the data goes on past the end of the file");
      list += TrimLeft(next);
    }
    std::string_view items = Trim(list);
    while (!items.empty()) {
      size_t comma = items.find(',');
      std::string_view item = Trim(items.substr(0, comma));
      uint32_t byte = 0;
      if (item.size() > 2 || !ParseHex32(item, byte)) {
        return Error("hex data must be bytes of two hex digits separated by commas");
      }
      data.push_back(static_cast<uint8_t>(byte));
      if (comma == std::string_view::npos) break;
      items = TrimLeft(items.substr(comma + 1));  // a trailing comma ends the list
    }
    return true;
  }

  std::string_view text_;
  RegistryTree& tree_;
  size_t pos_ = 0;
  int lineNumber_ = 0;
  RegistryKey* key_ = nullptr;
  std::string error_;
};

// ---------------------------------------------------------------------------------------------
// Writing the file

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

// A string value is written as quoted text when that text reads back to the same bytes: one
// terminating zero, no other zero, no line break, every unit a single byte.
bool QuotableText(const RegistryValue& value, std::string& text) {
  const std::vector<uint8_t>& data = value.data;
  if (value.type != kRegString || data.size() < 2 || data.size() % 2 != 0) return false;
  if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0) return false;
  text.clear();
  for (size_t i = 0; i + 2 < data.size(); i += 2) {
    uint8_t low = data[i];
    if (data[i + 1] != 0 || low == 0 || low == '\r' || low == '\n') return false;
    text += static_cast<char>(low);
  }
  return true;
}

void AppendHexData(std::string& out, std::string line, const std::vector<uint8_t>& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  bool lineHasBytes = false;
  for (size_t i = 0; i < data.size(); ++i) {
    bool last = i + 1 == data.size();
    if (lineHasBytes && line.size() + (last ? 2 : 3) > kHexLineWidth) {
      out += line;
      out += "\\\r\n";
      line = "  ";
    }
    line += kDigits[data[i] >> 4];
    line += kDigits[data[i] & 15];
    if (!last) line += ',';
    lineHasBytes = true;
  }
  out += line;
  out += "\r\n";
}

void AppendValue(std::string& out, const RegistryValue& value) {
  std::string line;
  if (value.name.empty()) {
    line = "@";
  } else {
    AppendQuoted(line, value.name);
  }
  line += '=';
  std::string text;
  if (QuotableText(value, text)) {
    AppendQuoted(line, text);
    out += line + "\r\n";
  } else if (value.type == kRegDword && value.data.size() == 4) {
    uint32_t number = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                      static_cast<uint32_t>(value.data[3]) << 24;
    out += line + "dword:" + Hex32(number, 8) + "\r\n";
  } else {
    line += value.type == kRegBinary ? "hex:" : "hex(" + Hex32(value.type, 1) + "):";
    AppendHexData(out, std::move(line), value.data);
  }
}

// Every key gets its block, empty ones too (an empty key is still a key); a root only when it
// has values of its own.
void AppendKey(std::string& out, const RegistryKey& key, const std::string& path, bool isRoot) {
  if (!isRoot || !key.values.empty()) {
    out += "[" + path + "]\r\n";
    for (const RegistryValue& value : key.values) AppendValue(out, value);
    out += "\r\n";
  }
  for (const auto& entry : key.subkeys) {
    AppendKey(out, *entry.second, path + "\\" + entry.second->name, false);
  }
}

// ---------------------------------------------------------------------------------------------
// Seeding

class Seeder {
 public:
  explicit Seeder(RegistryTree& tree) : tree_(tree) {}

  void Key(RegRoot root, std::string_view path) {
    bool created = false;
    tree_.Create(root, path, created);
  }
  void Text(RegRoot root, std::string_view path, std::string_view name, const std::string& text,
            uint32_t type = kRegString) {
    bool created = false;
    RegistryKey* key = tree_.Create(root, path, created);
    tree_.SetAnsi(*key, name, type, reinterpret_cast<const uint8_t*>(text.c_str()),
                  text.size() + 1);
  }
  // The same folders as paths ("Shell Folders") and as expandable texts ("User Shell Folders"),
  // as Windows keeps both.
  void Folders(RegRoot root, std::string_view explorer,
               std::initializer_list<std::pair<std::string_view, std::string>> folders) {
    for (const auto& [name, path] : folders) {
      Text(root, std::string(explorer) + "\\Shell Folders", name, path);
      Text(root, std::string(explorer) + "\\User Shell Folders", name, path, kRegExpandString);
    }
  }

 private:
  RegistryTree& tree_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Names and paths

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = UpperAscii(c);
  return folded;
}

bool SplitRegistryPath(std::string_view path, std::vector<std::string>& names) {
  names.clear();
  if (path.starts_with("\\")) return false;
  constexpr std::string_view kUnstorable("\r\n\0", 3);
  for (size_t start = 0; start < path.size();) {
    size_t end = std::min(path.find('\\', start), path.size());
    std::string_view name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;  // doubled and trailing backslashes separate nothing
    if (name.size() > kMaxKeyName) return false;
    if (name.find_first_of(kUnstorable) != std::string_view::npos) return false;
    names.emplace_back(name);
    if (names.size() > kMaxDepth) return false;
  }
  return true;
}

bool IsValidValueName(std::string_view name) {
  constexpr std::string_view kUnstorable("\r\n\0", 3);
  return name.size() <= kMaxValueName && name.find_first_of(kUnstorable) == std::string_view::npos;
}

// ---------------------------------------------------------------------------------------------
// The tree

RegistryKey* RegistryKey::FindSubkey(std::string_view name) const {
  auto it = subkeys.find(FoldName(name));
  return it == subkeys.end() ? nullptr : it->second.get();
}

RegistryKey& RegistryKey::AddSubkey(std::string_view name, bool& created) {
  auto [it, inserted] = subkeys.try_emplace(FoldName(name));
  if (inserted) {
    it->second = std::make_unique<RegistryKey>();
    it->second->name = std::string(name);
    created = true;
  }
  return *it->second;
}

RegistryValue* RegistryKey::FindValue(std::string_view name) {
  for (RegistryValue& value : values) {
    if (EqualNoCase(value.name, name)) return &value;
  }
  return nullptr;
}

void RegistryKey::PutValue(std::string_view name, uint32_t type, std::vector<uint8_t> data) {
  if (RegistryValue* value = FindValue(name)) {
    value->type = type;
    value->data = std::move(data);
    return;
  }
  values.push_back({std::string(name), type, std::move(data)});
}

bool RegistryKey::RemoveValue(std::string_view name) {
  auto it = std::find_if(values.begin(), values.end(),
                         [&](const RegistryValue& value) { return EqualNoCase(value.name, name); });
  if (it == values.end()) return false;
  values.erase(it);
  return true;
}

RegistryTree::RegistryTree() = default;

RegistryKey* RegistryTree::Find(RegRoot root, std::string_view path, std::string* storedPath) {
  std::vector<std::string> names;
  if (!SplitRegistryPath(path, names)) return nullptr;
  RegistryKey* key = &Root(root);
  if (storedPath) storedPath->clear();
  for (const std::string& name : names) {
    key = key->FindSubkey(name);
    if (!key) return nullptr;
    if (storedPath) *storedPath += (storedPath->empty() ? "" : "\\") + key->name;
  }
  return key;
}

RegistryKey* RegistryTree::Create(RegRoot root, std::string_view path, bool& created,
                                  std::string* storedPath) {
  std::vector<std::string> names;
  if (!SplitRegistryPath(path, names)) return nullptr;
  RegistryKey* key = &Root(root);
  if (storedPath) storedPath->clear();
  for (const std::string& name : names) {
    key = &key->AddSubkey(name, created);
    if (storedPath) *storedPath += (storedPath->empty() ? "" : "\\") + key->name;
  }
  return key;
}

void RegistryTree::SetAnsi(RegistryKey& key, std::string_view name, uint32_t type,
                           const uint8_t* data, size_t size) {
  std::vector<uint8_t> stored =
      IsUtf16Type(type) ? Widen(data, size) : std::vector<uint8_t>(data, data + size);
  key.PutValue(name, type, std::move(stored));
}

std::vector<uint8_t> RegistryTree::AnsiData(const RegistryValue& value) {
  return IsUtf16Type(value.type) ? Narrow(value.data) : value.data;
}

// ---------------------------------------------------------------------------------------------
// Text

bool ParseRegistryText(std::string_view text, RegistryTree& tree, std::string& error) {
  RegistryTree parsed;
  if (!Parser(text, parsed).Run(error)) return false;
  tree = std::move(parsed);
  return true;
}

std::string PrintRegistryText(const RegistryTree& tree) {
  std::string out(kHeader);
  out += "\r\n\r\n";
  for (const RootName& root : kRootNames) {
    AppendKey(out, tree.Root(root.root), std::string(root.name), true);
  }
  return out;
}

void SeedRegistry(RegistryTree& tree, const std::string& userName) {
  Seeder seed(tree);
  constexpr RegRoot kMachine = RegRoot::kLocalMachine;
  constexpr RegRoot kUser = RegRoot::kCurrentUser;
  const std::string currentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  seed.Text(kMachine, currentVersion, "ProgramFilesDir", "C:\\Program Files");
  seed.Text(kMachine, currentVersion, "CommonFilesDir", "C:\\Program Files\\Common Files");
  seed.Text(kMachine, currentVersion + "\\Setup", "BootDir", "C:\\");
  for (const char* key : {"Run", "RunOnce", "Uninstall", "SharedDLLs"}) {
    seed.Key(kMachine, currentVersion + "\\" + key);
  }
  seed.Key(kMachine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager");

  // The folders of a Wine prefix.
  const std::string profile = "C:\\users\\" + userName;
  const std::string roaming = profile + "\\AppData\\Roaming";
  const std::string windows = roaming + "\\Microsoft\\Windows";
  const std::string startMenu = windows + "\\Start Menu";
  seed.Folders(kUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
               {
                   {"AppData", roaming},
                   {"Desktop", profile + "\\Desktop"},
                   {"Favorites", profile + "\\Favorites"},
                   {"Fonts", "C:\\windows\\Fonts"},
                   {"History", profile + "\\AppData\\Local\\Microsoft\\Windows\\History"},
                   {"Local AppData", profile + "\\AppData\\Local"},
                   {"My Music", profile + "\\Music"},
                   {"My Pictures", profile + "\\Pictures"},
                   {"My Videos", profile + "\\Videos"},
                   {"NetHood", windows + "\\Network Shortcuts"},
                   {"Personal", profile + "\\Documents"},
                   {"PrintHood", windows + "\\Printer Shortcuts"},
                   {"Programs", startMenu + "\\Programs"},
                   {"Recent", windows + "\\Recent"},
                   {"SendTo", windows + "\\SendTo"},
                   {"Start Menu", startMenu},
                   {"Startup", startMenu + "\\Programs\\Startup"},
                   {"Templates", windows + "\\Templates"},
               });
  const std::string common = "C:\\ProgramData\\Microsoft\\Windows";
  seed.Folders(kMachine, currentVersion + "\\Explorer",
               {
                   {"Common AppData", "C:\\ProgramData"},
                   {"Common Desktop", "C:\\users\\Public\\Desktop"},
                   {"Common Documents", "C:\\users\\Public\\Documents"},
                   {"Common Favorites", "C:\\users\\Public\\Favorites"},
                   {"Common Programs", common + "\\Start Menu\\Programs"},
                   {"Common Start Menu", common + "\\Start Menu"},
                   {"Common Startup", common + "\\Start Menu\\Programs\\Startup"},
                   {"Common Templates", common + "\\Templates"},
               });

  for (const std::string& fonts :
       {currentVersion + "\\Fonts",
        std::string("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts")}) {
    seed.Text(kMachine, fonts, "Arial (TrueType)", "arial.ttf");
    seed.Text(kMachine, fonts, "Courier New (TrueType)", "cour.ttf");
    seed.Text(kMachine, fonts, "Tahoma (TrueType)", "tahoma.ttf");
    seed.Text(kMachine, fonts, "Times New Roman (TrueType)", "times.ttf");
  }
  seed.Key(kUser, "Environment");
  seed.Key(kUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  seed.Key(kUser, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce");
  seed.Key(RegRoot::kUsers, ".DEFAULT");
}

// ---------------------------------------------------------------------------------------------
// The store

namespace {

class FileLock {
 public:
  FileLock(int fd, int operation) : fd_(fd) { Lock(operation); }
  ~FileLock() {
    if (held_) flock(fd_, LOCK_UN);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Also converts a held lock; the conversion may let another process in between.
  bool Lock(int operation) {
    int result;
    do {
      result = flock(fd_, operation);
    } while (result != 0 && errno == EINTR);
    held_ = result == 0;
    return held_;
  }
  bool Held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now, so that a failing close (a full disk on some file systems) is seen.
  bool Close() {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

std::string SystemError(const std::string& context, int error = errno) {
  return context + ": " + std::strerror(error);
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Reads the whole file, up to limit bytes; false on a read error or a larger file.
bool ReadAll(int fd, off_t limit, std::string& text) {
  char buffer[65536];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof(buffer));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    if (count == 0) return true;
    if (static_cast<off_t>(text.size() + count) > limit) {
      errno = EFBIG;
      return false;
    }
    text.append(buffer, static_cast<size_t>(count));
  }
}

}  // namespace

RegistryStore::RegistryStore(std::string file)
    : file_(std::move(file)), lockFile_(file_ + ".lock"), tempFile_(file_ + ".new") {}

RegistryStore::~RegistryStore() {
  if (lockFd_ >= 0) close(lockFd_);
}

std::shared_ptr<RegistryStore> RegistryStore::Machine() {
  static std::mutex mutex;
  static std::shared_ptr<RegistryStore> store;
  std::string file = MachineRoot() + "/system.reg";
  std::lock_guard<std::mutex> lock(mutex);
  if (!store || store->File() != file) store = std::make_shared<RegistryStore>(file);
  return store;
}

std::string RegistryStore::Error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

uint64_t RegistryStore::LoadCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return loadCount_;
}

bool RegistryStore::Fail(const std::string& message) {
  error_ = message;
  return FailWith("", message);
}

bool RegistryStore::OpenLockFile() {
  if (lockFd_ >= 0) return true;
  lockFd_ = open(lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  return lockFd_ >= 0 || Fail(SystemError("cannot open " + lockFile_));
}

// The lock file's first eight bytes count the saves, so that a reader notices a new file even
// when it has the size, time and (reused) inode of the one it parsed.
uint64_t RegistryStore::ReadGeneration() const {
  uint8_t bytes[8];
  if (pread(lockFd_, bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes))) return 0;
  uint64_t generation = 0;
  for (int i = 7; i >= 0; --i) generation = generation << 8 | bytes[i];
  return generation;
}

void RegistryStore::WriteGeneration(uint64_t generation) const {
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(generation >> (8 * i));
  // Should this fail, readers still notice the new file by its identity.
  [[maybe_unused]] ssize_t written = pwrite(lockFd_, bytes, sizeof(bytes), 0);
}

RegistryStore::Identity RegistryStore::IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
          st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
}

RegistryStore::State RegistryStore::Refresh() {
  uint64_t generation = ReadGeneration();
  struct stat st;
  if (stat(file_.c_str(), &st) != 0) {
    if (errno == ENOENT) return state_ = State::kMissing;
    loadError_ = SystemError("cannot read " + file_);
    return state_ = State::kFailed;
  }
  Identity identity = IdentityOf(st);
  bool known = state_ == State::kLoaded || state_ == State::kCorrupt;
  if (known && generation == generation_ && identity == identity_) return state_;
  return Load(generation);
}

RegistryStore::State RegistryStore::Load(uint64_t generation) {
  ++loadCount_;
  FileDescriptor fd(open(file_.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return state_ = State::kMissing;
    loadError_ = SystemError("cannot read " + file_);
    return state_ = State::kFailed;
  }
  struct stat st;
  std::string text;
  if (fstat(fd.Get(), &st) != 0 || !ReadAll(fd.Get(), kMaxFileSize, text)) {
    loadError_ = SystemError("cannot read " + file_);
    return state_ = State::kFailed;
  }
  identity_ = IdentityOf(st);
  generation_ = generation;
  std::string error;
  if (!ParseRegistryText(text, tree_, error)) {
    // Saving over it would throw away the machine's registry: the file stays as it is.
    loadError_ = file_ + " is damaged, " + error + "; the registry is unusable until it is mended";
    return state_ = State::kCorrupt;
  }
  return state_ = State::kLoaded;
}

bool RegistryStore::Save() {
  std::string text = PrintRegistryText(tree_);
  struct stat old;
  mode_t mode = stat(file_.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  FileDescriptor fd(open(tempFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
  if (fd.Get() < 0) return Fail(SystemError("cannot write " + tempFile_));
  // The data reaches the disk before the rename, so a crash leaves the old file or the new one,
  // never an empty one.
  bool written = fchmod(fd.Get(), mode) == 0 && WriteAll(fd.Get(), text) && fsync(fd.Get()) == 0;
  int error = errno;
  if (!fd.Close() && written) {
    written = false;
    error = errno;
  }
  if (!written || rename(tempFile_.c_str(), file_.c_str()) != 0) {
    if (written) error = errno;
    unlink(tempFile_.c_str());
    return Fail(SystemError("cannot save " + file_, error));
  }
  struct stat st;
  identity_ = stat(file_.c_str(), &st) == 0 ? IdentityOf(st) : Identity{};
  generation_ = ReadGeneration() + 1;
  WriteGeneration(generation_);
  state_ = State::kLoaded;
  return true;
}

constexpr char kNoMoreItems[] = "No more data is available";

template <typename Op>
bool RegistryStore::Run(bool write, Op&& op) {
  std::lock_guard<std::mutex> guard(mutex_);
  error_.clear();
  if (!OpenLockFile()) return false;
  FileLock lock(lockFd_, write ? LOCK_EX : LOCK_SH);
  if (!lock.Held()) return Fail(SystemError("cannot lock " + lockFile_));
  State state = Refresh();
  if (state == State::kMissing && !write) {
    // Seeding writes the file: that needs the exclusive lock, and a new look once it is held.
    if (!lock.Lock(LOCK_EX)) return Fail(SystemError("cannot lock " + lockFile_));
    state = Refresh();
  }
  bool changed = false;
  if (state == State::kMissing) {
    tree_ = RegistryTree();
    SeedRegistry(tree_, HostUserName());
    changed = true;
  } else if (state != State::kLoaded) {
    return Fail(loadError_);
  }
  bool ok = op(tree_, changed);
  // An operation that fails without saying why found no such key or value, as Windows says.
  if (!ok && error_.empty()) Fail("The system cannot find the file specified");
  if (changed && !Save()) {
    // The tree holds a change the file does not: read the file again next time.
    state_ = State::kUnknown;
    return false;
  }
  return ok;
}

bool RegistryStore::OpenKey(RegRoot root, const std::string& path, std::string& storedPath) {
  return Run(false, [&](RegistryTree& tree, bool&) {
    return tree.Find(root, path, &storedPath) != nullptr;
  });
}

bool RegistryStore::CreateKey(RegRoot root, const std::string& path, std::string& storedPath) {
  return Run(true, [&](RegistryTree& tree, bool& changed) {
    bool created = false;
    RegistryKey* key = tree.Create(root, path, created, &storedPath);
    changed = changed || created;
    return key != nullptr || Fail("malformed key path \"" + path + "\"");
  });
}

bool RegistryStore::DeleteKey(RegRoot root, const std::string& path) {
  return Run(true, [&](RegistryTree& tree, bool& changed) {
    std::vector<std::string> names;
    if (!SplitRegistryPath(path, names) || names.empty()) return false;
    RegistryKey* parent = &tree.Root(root);
    for (size_t i = 0; i + 1 < names.size() && parent; ++i) parent = parent->FindSubkey(names[i]);
    if (!parent) return false;
    auto it = parent->subkeys.find(FoldName(names.back()));
    if (it == parent->subkeys.end()) return false;
    if (!it->second->subkeys.empty()) return Fail("the key has subkeys");
    parent->subkeys.erase(it);
    changed = true;
    return true;
  });
}

bool RegistryStore::QueryValue(RegRoot root, const std::string& key, const std::string& name,
                               uint32_t& type, std::vector<uint8_t>& data) {
  return Run(false, [&](RegistryTree& tree, bool&) {
    RegistryKey* found = tree.Find(root, key);
    RegistryValue* value = found ? found->FindValue(name) : nullptr;
    if (!value) return false;
    type = value->type;
    data = RegistryTree::AnsiData(*value);
    return true;
  });
}

bool RegistryStore::SetValue(RegRoot root, const std::string& key, const std::string& name,
                             uint32_t type, const void* data, size_t size) {
  if (!data && size > 0) return FailWith("", "The data area passed to a system call is too small");
  return Run(true, [&](RegistryTree& tree, bool& changed) {
    if (!IsValidValueName(name)) return Fail("a value name cannot hold line breaks or NULs");
    RegistryKey* found = tree.Find(root, key);
    if (!found) return false;
    tree.SetAnsi(*found, name, type, static_cast<const uint8_t*>(data), size);
    changed = true;
    return true;
  });
}

bool RegistryStore::DeleteValue(RegRoot root, const std::string& key, const std::string& name) {
  return Run(true, [&](RegistryTree& tree, bool& changed) {
    RegistryKey* found = tree.Find(root, key);
    if (!found || !found->RemoveValue(name)) return false;
    changed = true;
    return true;
  });
}

bool RegistryStore::EnumKey(RegRoot root, const std::string& key, uint32_t index,
                            std::string& name) {
  return Run(false, [&](RegistryTree& tree, bool&) {
    RegistryKey* found = tree.Find(root, key);
    if (found && index >= found->subkeys.size()) return Fail(kNoMoreItems);
    if (!found) return false;
    name = std::next(found->subkeys.begin(), index)->second->name;
    return true;
  });
}

bool RegistryStore::EnumValue(RegRoot root, const std::string& key, uint32_t index,
                              std::string& name) {
  return Run(false, [&](RegistryTree& tree, bool&) {
    RegistryKey* found = tree.Find(root, key);
    if (found && index >= found->values.size()) return Fail(kNoMoreItems);
    if (!found) return false;
    name = found->values[index].name;
    return true;
  });
}

}  // namespace os::host
