#include "support/zrUtils.h"

#include <cstdio>

#include "support/DiagnosticLog.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

BoxSettings& MessageBoxSettings() {
  static BoxSettings settings;
  return settings;
}

int ShowMessageBox(os::WindowHandle owner, const std::string& caption, const std::string& text,
                   uint32_t icon) {
  uint32_t flags = os::kMbOk | os::kMbTaskModal | icon;
  if (MessageBoxSettings().setForeground) flags |= os::kMbSetForeground;
  diag::Line("box \"" + caption + "\": " + text);
  const uint32_t kind = icon & 0xF0;  // the icon bits
  if (kind == os::kMbIconStop || kind == os::kMbIconExclamation) diag::RecentFailures();
  const int answer = os::MessageBox(owner, text, caption, flags);
  diag::Linef("box answered %d", answer);
  return answer;
}

void ShowErrorBox(const std::string& text) {
  const BoxSettings& settings = MessageBoxSettings();
  std::string caption = settings.applicationName.empty() ? "Error" : settings.applicationName;
  ShowMessageBox(settings.mainWindow, caption, text, os::kMbIconStop);
}

void ShowWarningBox(const std::string& text) {
  const BoxSettings& settings = MessageBoxSettings();
  std::string caption = settings.applicationName.empty() ? "Warning" : settings.applicationName;
  ShowMessageBox(settings.mainWindow, caption, text, os::kMbIconExclamation);
}

// ---------------------------------------------------------------------------------------------
// File versions

namespace {

// A part of a version text; one that cannot be a 16-bit part of a version resource counts as 0,
// like a missing one, so that it can neither wrap nor spill into its neighbour.
uint32_t VersionPart(const std::string& word) {
  std::optional<int32_t> value = TextToInt(word);
  return value && *value >= 0 && *value <= 0xFFFF ? static_cast<uint32_t>(*value) : 0;
}

}  // namespace

TFileVersion VersionFromText(const std::string& text) {
  uint32_t parts[4] = {};
  size_t start = 0;
  for (uint32_t& part : parts) {
    size_t dot = text.find('.', start);
    part = VersionPart(text.substr(start, dot == std::string::npos ? dot : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return {parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}

std::string VersionToText(const TFileVersion& version) {
  char text[48];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", version.MostSignificant >> 16,
                version.MostSignificant & 0xFFFF, version.LeastSignificant >> 16,
                version.LeastSignificant & 0xFFFF);
  return text;
}

std::optional<TFileVersion> FileVersion(const std::string& file) {
  TFileVersion version;
  if (!os::GetFileVersion(file, version.MostSignificant, version.LeastSignificant)) {
    return std::nullopt;
  }
  return version;
}

std::string FileVersionText(const std::string& file) {
  std::optional<TFileVersion> version = FileVersion(file);
  return version ? VersionToText(*version) : std::string();
}

int CompareVersions(const std::string& a, const std::string& b) {
  std::strong_ordering order = VersionFromText(a) <=> VersionFromText(b);
  return order > 0 ? 1 : order < 0 ? -1 : 0;
}

bool IsNewer(const std::string& versionText, const std::string& file, int64_t date) {
  if (!FileExists(file)) return false;
  if (!versionText.empty()) {
    std::optional<TFileVersion> installed = FileVersion(file);
    if (installed && *installed != VersionFromText(versionText)) {
      return *installed > VersionFromText(versionText);
    }
  }
  std::optional<int64_t> time = os::GetFileWriteTime(file);
  return time && *time > date;
}

bool IsSame(const std::string& versionText, const std::string& file, int64_t date) {
  if (!FileExists(file)) return false;
  if (!versionText.empty()) {
    std::optional<TFileVersion> installed = FileVersion(file);
    if (installed && *installed != VersionFromText(versionText)) return false;
  }
  return os::GetFileWriteTime(file) == date;
}
