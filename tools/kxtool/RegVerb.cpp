// kxtool reg: reads and changes the registry through the engine's registry-by-path functions, so
// that tests see values exactly as an installation reads and writes them; `dump` lists keys and
// values in one canonical order for comparing the whole registry before and after a run.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Verbs.h"
#include "os/os.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

namespace {

using Args = std::vector<std::string>;

constexpr int kMissing = 1;
constexpr int kFailed = 2;

struct TypeName {
  const char* name;
  uint32_t type;
};
constexpr TypeName kTypeNames[] = {
    {"str", os::kRegString}, {"expand", os::kRegExpandString}, {"int", os::kRegDword},
    {"bin", os::kRegBinary}, {"mstr", os::kRegMultiString},
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "kxtool reg: %s\n", problem.c_str());
  std::fputs(
      "usage: kxtool reg get KEY [VALUE] | set KEY VALUE TYPE DATA | del KEY [VALUE] | list KEY |"
      " dump [KEY]\nTYPEs: str expand int bin mstr\n",
      stderr);
  return kFailed;
}

int Problem(int code, const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "kxtool reg: %s\n", message.c_str());
  return code;
}

// The key as the output names it: the root's short name and the subkey as given.
std::string CanonicalKey(const std::string& keyPath) {
  static const char* const kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU"};
  os::RegRoot root;
  std::string subkey;
  SplitKeyPath(keyPath, root, subkey);
  const std::string name = kRoots[static_cast<int>(root)];
  return subkey.empty() ? name : name + "\\" + subkey;
}

std::string TypeText(uint32_t type) {
  for (const TypeName& name : kTypeNames) {
    if (name.type == type) return name.name;
  }
  return "type:" + std::to_string(type);
}

// Quoted, with every byte that would break the line or the quotes escaped.
std::string Quoted(const std::string& text) {
  std::string result = "\"";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      result += '\\';
      result += c;
    } else if (c == '\r') {
      result += "\\r";
    } else if (c == '\n') {
      result += "\\n";
    } else if (byte < 0x20 || byte == 0x7F) {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      result += "\\x";
      result += kDigits[byte >> 4];
      result += kDigits[byte & 15];
    } else {
      result += c;
    }
  }
  return result + "\"";
}

// A value's data as a listing shows it: the text form where writing that text back by the type
// gives the same bytes, else the bytes in hex, so that two listings differ whenever the values do.
std::string DataText(const std::string& key, const std::string& name, uint32_t type) {
  std::vector<uint8_t> bytes, again;
  RegReadBinary(key, name, bytes);
  const std::string text = RegReadText(key, name, "");
  if (!RegTextBytes(type, text, again) || again != bytes) {
    return "hex:" + RegReadBinaryText(key, name, "");
  }
  return type == os::kRegDword || type == os::kRegBinary ? text : Quoted(text);
}

std::string ValueLine(const std::string& key, const std::string& name) {
  const uint32_t type = RegValueType(key, name);
  const std::string data = DataText(key, name, type);
  return Quoted(name) + " " + TypeText(type) + (data.empty() ? "" : " " + data);
}

void SortIgnoringCase(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return UpperCaseText(a) < UpperCaseText(b);
  });
}

void PrintValues(const std::string& key) {
  std::vector<std::string> names;
  RegListValues(key, names);
  SortIgnoringCase(names);
  for (const std::string& name : names) std::printf("%s\n", ValueLine(key, name).c_str());
}

void DumpKey(const std::string& key) {
  std::printf("[%s]\n", key.c_str());
  PrintValues(key);
  std::vector<std::string> subkeys;
  RegListSubkeys(key, subkeys);
  SortIgnoringCase(subkeys);
  for (const std::string& subkey : subkeys) DumpKey(key + "\\" + subkey);
}

bool ParseType(const std::string& text, uint32_t& type) {
  for (const TypeName& name : kTypeNames) {
    if (text == name.name) {
      type = name.type;
      return true;
    }
  }
  return false;
}

// Whether data is text the engine reads as the type, rather than something it would turn into 0.
bool ReadableAs(uint32_t type, const std::string& data) {
  if (type == os::kRegDword) return ReadInt(data, 0) == ReadInt(data, 1);
  if (type != os::kRegBinary) return true;
  const std::string digits = DeleteBlanks(data);
  return digits.size() % 2 == 0 &&
         digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

int Get(const Args& args) {
  if (args.size() < 1 || args.size() > 2) return Usage("get takes KEY [VALUE]");
  const std::string key = CanonicalKey(args[0]);
  const std::string name = args.size() == 2 ? args[1] : "";
  if (!RegValueExists(key, name)) {
    return Problem(kMissing, "no value " + Quoted(name) + " in " + key);
  }
  const std::string text = RegReadText(key, name, "");
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

int Set(const Args& args) {
  if (args.size() != 4) return Usage("set takes KEY VALUE TYPE DATA");
  const std::string key = CanonicalKey(args[0]);
  uint32_t type = 0;
  if (!ParseType(args[2], type)) return Usage("unknown type \"" + args[2] + "\"");
  if (!ReadableAs(type, args[3])) {
    return Usage("\"" + args[3] + "\" is no " + args[2] + " value");
  }
  std::vector<uint8_t> data;
  RegTextBytes(type, args[3], data);
  if (!RegWrite(key, args[1], type, data.data(), data.size())) {
    return Problem(kFailed, os::LastErrorMessage());
  }
  return 0;
}

int Del(const Args& args) {
  if (args.size() < 1 || args.size() > 2) return Usage("del takes KEY [VALUE]");
  const std::string key = CanonicalKey(args[0]);
  if (args.size() == 2) {
    if (!RegValueExists(key, args[1])) {
      return Problem(kMissing, "no value " + Quoted(args[1]) + " in " + key);
    }
    return RegDeleteValue(key, args[1]) ? 0 : Problem(kFailed, os::LastErrorMessage());
  }
  if (!RegKeyExists(key)) return Problem(kMissing, "no key " + key);
  if (key.find('\\') == std::string::npos) return Problem(kFailed, "a root cannot be deleted");
  return RegDeleteKeyPath(key, true) ? 0 : Problem(kFailed, os::LastErrorMessage());
}

int List(const Args& args) {
  if (args.size() != 1) return Usage("list takes KEY");
  const std::string key = CanonicalKey(args[0]);
  if (!RegKeyExists(key)) return Problem(kMissing, "no key " + key);
  std::vector<std::string> subkeys;
  RegListSubkeys(key, subkeys);
  SortIgnoringCase(subkeys);
  for (const std::string& subkey : subkeys) std::printf("%s\\\n", subkey.c_str());
  PrintValues(key);
  return 0;
}

int Dump(const Args& args) {
  if (args.size() > 1) return Usage("dump takes at most KEY");
  if (args.empty()) {
    for (const char* root : {"HKCR", "HKCU", "HKLM", "HKU"}) DumpKey(root);
    return 0;
  }
  const std::string key = CanonicalKey(args[0]);
  if (!RegKeyExists(key)) return Problem(kMissing, "no key " + key);
  DumpKey(key);
  return 0;
}

}  // namespace

int RunRegVerb(const Args& args) {
  os::SetStdoutBinary();  // the lines end in LF on every system
  if (args.empty()) return Usage("no operation given");
  const Args rest(args.begin() + 1, args.end());
  int code;
  if (args[0] == "get") {
    code = Get(rest);
  } else if (args[0] == "set") {
    code = Set(rest);
  } else if (args[0] == "del") {
    code = Del(rest);
  } else if (args[0] == "list") {
    code = List(rest);
  } else if (args[0] == "dump") {
    code = Dump(rest);
  } else {
    return Usage("unknown operation \"" + args[0] + "\"");
  }
  return std::fflush(stdout) == 0 ? code : kFailed;
}
