#include "support/SafeNames.h"

#include "support/zrStrUtils.h"

namespace {

constexpr std::string_view kSeparators = "\\/";

bool IsDigitOneToNine(unsigned char c) {
  // Windows also takes the superscript digits of the ANSI code page as port numbers.
  return (c >= '1' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
}

bool IsForbiddenCharacter(unsigned char c) {
  return c < 0x20 || std::string_view("<>:\"|?*").find(static_cast<char>(c)) != std::string::npos;
}

// The folder-only entries of the archive's data folder end in the name ".".
bool IsFolderEntryOfData(std::string_view name) {
  return name.size() > 5 && SameText(name.substr(0, 5), "DATA\\") && name.ends_with("\\.");
}

}  // namespace

bool IsDeviceName(std::string_view name) {
  // The device is named by what stands before the first dot, trailing blanks dropped.
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  if (base.size() == 3) {
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL"}) {
      if (SameText(base, device)) return true;
    }
    return false;
  }
  return base.size() == 4 &&
         (SameText(base.substr(0, 3), "COM") || SameText(base.substr(0, 3), "LPT")) &&
         IsDigitOneToNine(static_cast<unsigned char>(base[3]));
}

bool IsSafeFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  if (name.back() == ' ' || name.back() == '.') return false;
  for (char c : name) {
    if (kSeparators.find(c) != std::string_view::npos) return false;
    if (IsForbiddenCharacter(static_cast<unsigned char>(c))) return false;
  }
  return !IsDeviceName(name);
}

bool IsSafeEntryName(std::string_view name) {
  if (IsFolderEntryOfData(name)) name.remove_suffix(2);
  size_t start = 0;
  for (;;) {
    size_t end = name.find_first_of(kSeparators, start);
    if (!IsSafeFileName(name.substr(start, end == std::string_view::npos ? end : end - start))) {
      return false;
    }
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool FitsPathLimit(const std::string& folder, const std::string& name) {
  return folder.size() + name.size() <= kMaxPathLength;
}
