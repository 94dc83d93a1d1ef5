// zrRegIni, the registry half: values reached by key path strings; see zrRegIni.h. The INI half
// lives in zrIniCache.cpp.
#include <atomic>
#include <charconv>
#include <cstring>

#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

namespace {

struct RootName {
  const char* name;
  os::RegRoot root;
};
constexpr RootName kRootNames[] = {
    {"HKCR", os::RegRoot::kClassesRoot},
    {"HKCU", os::RegRoot::kCurrentUser},
    {"HKLM", os::RegRoot::kLocalMachine},
    {"HKU", os::RegRoot::kUsers},
};

std::string WithoutTrailingBackslash(const std::string& keyPath) {
  if (keyPath.empty() || keyPath.back() != '\\') return keyPath;
  return keyPath.substr(0, keyPath.size() - 1);
}

os::RegKey OpenKey(const std::string& keyPath, bool write) {
  os::RegRoot root;
  std::string subkey;
  SplitKeyPath(keyPath, root, subkey);
  return os::RegKey::Open(root, subkey, write);
}

os::RegKey CreateKey(const std::string& keyPath) {
  os::RegRoot root;
  std::string subkey;
  SplitKeyPath(keyPath, root, subkey);
  return os::RegKey::Create(root, subkey);
}

bool Query(const std::string& keyPath, const std::string& name, uint32_t& type,
           std::vector<uint8_t>& data) {
  os::RegKey key = OpenKey(keyPath, false);
  return key.IsOpen() && key.QueryValue(name, type, data);
}

// Numbers are read from any four-byte value that holds one as Windows lays it out.
bool NumberOf(uint32_t type, const std::vector<uint8_t>& data, uint32_t& number) {
  if ((type != os::kRegDword && type != os::kRegBinary) || data.size() != 4) return false;
  number = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
  return true;
}

// The integer parse of the engine's settings, 0 when the text is none.
uint32_t NumberFromText(const std::string& text) { return static_cast<uint32_t>(ReadInt(text, 0)); }

std::string HexText(const std::vector<uint8_t>& data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(data.size() * 2);
  for (uint8_t byte : data) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Pairs of hex digits once the blanks are gone; an odd last digit is dropped and a pair that is
// not hexadecimal counts as 0, as project files have always been read.
std::vector<uint8_t> BinaryFromText(const std::string& text) {
  std::string digits = DeleteBlanks(text);
  std::vector<uint8_t> data;
  data.reserve(digits.size() / 2);
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    int high = HexDigitValue(digits[i]);
    int low = HexDigitValue(digits[i + 1]);
    data.push_back(high < 0 || low < 0 ? 0 : static_cast<uint8_t>(high << 4 | low));
  }
  return data;
}

// The text up to its first NUL, as a string value is read by the calls that take C strings.
std::string StringText(const std::vector<uint8_t>& data) {
  const char* begin = reinterpret_cast<const char*>(data.data());
  size_t length = 0;
  while (length < data.size() && data[length] != 0) ++length;
  return std::string(begin, length);
}

// The strings joined by CR LF. Only the terminating zeros that are present are dropped: a value
// written without its final zero (or zeros) by some other program keeps its last string, and a
// rollback that writes the text back does not lose it.
std::string MultiStringText(const std::vector<uint8_t>& data) {
  size_t size = data.size();
  if (size >= 2 && data[size - 1] == 0 && data[size - 2] == 0) {
    size -= 2;
  } else if (size >= 1 && data[size - 1] == 0) {
    size -= 1;
  }
  std::string text;
  text.reserve(size + size / 4);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      text += "\r\n";
    } else {
      text += static_cast<char>(data[i]);
    }
  }
  return text;
}

// Lines end at CR, at LF or at a CR LF pair; a final line break does not open another line.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

// Clears list, then fills it with the names the key's enumeration gives, index after index.
void ListNames(const std::string& keyPath, bool (os::RegKey::*next)(uint32_t, std::string&) const,
               std::vector<std::string>& list) {
  list.clear();
  os::RegKey key = OpenKey(keyPath, false);
  if (!key.IsOpen()) return;
  std::string name;
  for (uint32_t index = 0; (key.*next)(index, name); ++index) list.push_back(name);
}

// A 32-bit number as the registry stores it, lowest byte first.
std::vector<uint8_t> DwordBytes(uint32_t number) {
  return {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
          static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
}

// Each line and its zero, then the zero that ends the list. A CR inside a line ends a string too
// and an LF is dropped, as the lines joined by CR LF have always been stored.
std::vector<uint8_t> MultiStringBytes(const std::vector<std::string>& lines) {
  std::vector<uint8_t> data;
  for (const std::string& line : lines) {
    for (char c : line) {
      if (c != '\n') data.push_back(c == '\r' ? 0 : static_cast<uint8_t>(c));
    }
    data.push_back(0);
  }
  data.push_back(0);
  return data;
}

// A draw from the system's random source, 0..2147483646; should the source fail, a counter, so
// that a search for a free name still moves on. (A generator of the C++ library would put its
// random device into every program for this one use.)
uint32_t RandomValueNumber() {
  uint32_t value = 0;
  if (!os::RandomBytes(&value, sizeof value)) {
    static std::atomic<uint32_t> counter{0};
    value = ++counter;
  }
  return value % 2147483647u;
}

}  // namespace

void SplitKeyPath(const std::string& keyPath, os::RegRoot& root, std::string& subkey) {
  std::string path = WithoutTrailingBackslash(keyPath);
  size_t slash = path.find('\\');
  std::string first = UpperCaseText(path.substr(0, slash));
  for (const RootName& candidate : kRootNames) {
    if (first == candidate.name) {
      root = candidate.root;
      subkey = slash == std::string::npos ? "" : path.substr(slash + 1);
      return;
    }
  }
  root = os::RegRoot::kCurrentUser;
  subkey = path;
}

bool RegKeyExists(const std::string& keyPath) { return OpenKey(keyPath, false).IsOpen(); }

bool RegValueExists(const std::string& keyPath, const std::string& name) {
  uint32_t type;
  std::vector<uint8_t> data;
  return Query(keyPath, name, type, data);
}

uint32_t RegValueType(const std::string& keyPath, const std::string& name) {
  uint32_t type;
  std::vector<uint8_t> data;
  return Query(keyPath, name, type, data) ? type : 0;
}

uint32_t RegValueSize(const std::string& keyPath, const std::string& name) {
  uint32_t type;
  std::vector<uint8_t> data;
  return Query(keyPath, name, type, data) ? static_cast<uint32_t>(data.size()) : 0;
}

bool RegReadRaw(const std::string& keyPath, const std::string& name, void* buffer, size_t& size) {
  uint32_t type;
  std::vector<uint8_t> data;
  if (!Query(keyPath, name, type, data)) return false;
  bool fits = data.size() <= size && (buffer || data.empty());
  size = data.size();
  if (!fits) return false;
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  return true;
}

uint32_t RegReadNumber(const std::string& keyPath, const std::string& name, uint32_t defaultValue) {
  uint32_t type;
  std::vector<uint8_t> data;
  uint32_t number;
  if (!Query(keyPath, name, type, data) || !NumberOf(type, data, number)) return defaultValue;
  return number;
}

bool RegReadBinary(const std::string& keyPath, const std::string& name,
                   std::vector<uint8_t>& data) {
  uint32_t type;
  return Query(keyPath, name, type, data);
}

std::string RegReadBinaryText(const std::string& keyPath, const std::string& name,
                              const std::string& defaultValue) {
  uint32_t type;
  std::vector<uint8_t> data;
  return Query(keyPath, name, type, data) ? HexText(data) : defaultValue;
}

std::string RegReadText(const std::string& keyPath, const std::string& name,
                        const std::string& defaultValue) {
  uint32_t type;
  std::vector<uint8_t> data;
  if (!Query(keyPath, name, type, data)) return defaultValue;
  switch (type) {
    case os::kRegString:
    case os::kRegExpandString:
      return StringText(data);
    case os::kRegBinary:
      return HexText(data);
    case os::kRegDword: {
      uint32_t number;
      if (!NumberOf(type, data, number)) number = NumberFromText(defaultValue);
      return std::to_string(number);
    }
    case os::kRegMultiString:
      return MultiStringText(data);
    default:
      return defaultValue;
  }
}

bool RegWrite(const std::string& keyPath, const std::string& name, uint32_t type, const void* data,
              size_t size) {
  os::RegKey key = CreateKey(keyPath);
  return key.IsOpen() && key.SetValue(name, type, data, size);
}

bool RegWriteString(const std::string& keyPath, const std::string& name, const std::string& text) {
  return RegWrite(keyPath, name, os::kRegString, text.c_str(), text.size() + 1);
}

bool RegWriteNumber(const std::string& keyPath, const std::string& name, uint32_t number) {
  const std::vector<uint8_t> data = DwordBytes(number);
  return RegWrite(keyPath, name, os::kRegDword, data.data(), data.size());
}

bool RegWriteBinary(const std::string& keyPath, const std::string& name, const void* data,
                    size_t size) {
  return RegWrite(keyPath, name, os::kRegBinary, data, size);
}

bool RegWriteBinaryText(const std::string& keyPath, const std::string& name,
                        const std::string& text) {
  std::vector<uint8_t> data = BinaryFromText(text);
  return RegWriteBinary(keyPath, name, data.data(), data.size());
}

bool RegWriteMultiString(const std::string& keyPath, const std::string& name,
                         const std::vector<std::string>& lines) {
  std::vector<uint8_t> data = MultiStringBytes(lines);
  return RegWrite(keyPath, name, os::kRegMultiString, data.data(), data.size());
}

bool RegWriteMultiStringText(const std::string& keyPath, const std::string& name,
                             const std::string& text) {
  return RegWriteMultiString(keyPath, name, SplitLines(text));
}

bool RegTextBytes(uint32_t type, const std::string& text, std::vector<uint8_t>& data) {
  switch (type) {
    case os::kRegString:
    case os::kRegExpandString:
      data.assign(text.begin(), text.end());
      data.push_back(0);
      return true;
    case os::kRegBinary:
      data = BinaryFromText(text);
      return true;
    case os::kRegDword:
      data = DwordBytes(NumberFromText(text));
      return true;
    case os::kRegMultiString:
      data = MultiStringBytes(SplitLines(text));
      return true;
    default:
      return false;
  }
}

bool RegWriteByType(const std::string& keyPath, const std::string& name, uint32_t type,
                    const std::string& text) {
  std::vector<uint8_t> data;
  if (!RegTextBytes(type, text, data)) return false;
  const uint32_t stored = type == os::kRegExpandString ? os::kRegString : type;
  return RegWrite(keyPath, name, stored, data.data(), data.size());
}

bool RegDeleteValue(const std::string& keyPath, const std::string& name) {
  os::RegKey key = OpenKey(keyPath, true);
  return key.IsOpen() && key.DeleteValue(name);
}

bool RegDeleteKeyPath(const std::string& keyPath, bool withSubkeys) {
  std::string path = WithoutTrailingBackslash(keyPath);
  os::RegRoot root;
  std::string subkey;
  SplitKeyPath(path, root, subkey);
  // A root cannot be deleted; emptying it first would wipe a whole hive and still fail.
  if (subkey.empty()) return false;
  if (withSubkeys) {
    std::vector<std::string> subkeys;
    RegListSubkeys(path, subkeys);
    for (const std::string& name : subkeys) RegDeleteKeyPath(path + "\\" + name, true);
  }
  return os::RegDeleteKey(root, subkey);
}

void RegListSubkeys(const std::string& keyPath, std::vector<std::string>& list) {
  ListNames(keyPath, &os::RegKey::EnumKey, list);
}

void RegListValues(const std::string& keyPath, std::vector<std::string>& list) {
  ListNames(keyPath, &os::RegKey::EnumValue, list);
}

std::string RegUniqueValueName(const std::string& keyPath, const std::string& prefix) {
  for (;;) {
    std::string name = prefix + std::to_string(RandomValueNumber());
    if (!RegValueExists(keyPath, name)) return name;
  }
}
