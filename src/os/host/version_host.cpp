// The host OS layer's Windows version and version resources.
//
// The version is whatever $KX_WINVER says, so that tests can play any Windows: "major.minor.build"
// (three decimal numbers) with ":9x" appended for the 9x platform. A value that is not exactly of
// that form is ignored as if unset, and the default, Windows XP (NT 5.1.2600), is reported.
// Version resources are read from the PE file by the portable reader, through positioned reads of
// the few parts it needs, so a large file is never read whole.
#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "os/PeVersion.h"
#include "os/host/HostErrors.h"
#include "os/os.h"

namespace os {
namespace {

// Windows XP, the system the engine's rules were written for.
VersionData DefaultVersion() { return {Platform::kWindowsNT, 5, 1, 2600, ""}; }

// One decimal number of at most 9 digits (so it fits an int), consumed from the front of text.
bool TakeNumber(std::string_view& text, int& number) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9) return false;
  number = 0;
  for (size_t i = 0; i < digits; ++i) number = number * 10 + (text[i] - '0');
  text.remove_prefix(digits);
  return true;
}

bool TakeChar(std::string_view& text, char ch) {
  if (text.empty() || text.front() != ch) return false;
  text.remove_prefix(1);
  return true;
}

// A file descriptor closed on every path.
bool ParseWindowsVersion(std::string_view text, VersionData& data) {
  VersionData parsed;
  if (!TakeNumber(text, parsed.major) || !TakeChar(text, '.') || !TakeNumber(text, parsed.minor) ||
      !TakeChar(text, '.') || !TakeNumber(text, parsed.build)) {
    return false;
  }
  if (text == ":9x" || text == ":9X") {
    parsed.platform = Platform::kWindows9x;
  } else if (!text.empty()) {
    return false;
  }
  data = parsed;
  return true;
}

}  // namespace

VersionData GetVersionData() {
  VersionData data = DefaultVersion();
  if (const char* text = std::getenv("KX_WINVER")) ParseWindowsVersion(text, data);
  return data;
}

bool GetFileVersion(const std::string& path, uint32_t& mostSignificant,
                    uint32_t& leastSignificant) {
  File file = File::Open(path, File::Mode::kReadShared);
  if (!file.IsOpen()) return false;
  PeByteReader read = [&file](uint64_t offset, void* buffer, size_t count) -> size_t {
    return static_cast<size_t>(std::max<int64_t>(0, file.ReadAt(offset, buffer, count)));
  };
  std::string reason;
  std::optional<PeFixedFileInfo> info = ReadPeFixedFileInfo(read, &reason);
  if (!info) return host::FailWith("No version in " + path, reason);
  mostSignificant = info->fileVersionMS;
  leastSignificant = info->fileVersionLS;
  return true;
}

}  // namespace os
