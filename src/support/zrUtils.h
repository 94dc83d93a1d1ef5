// The engine's own message boxes (the plain error box, the warning box and the general box), and
// the file versions of programs and libraries with the rules that compare them.
//
// Boxes are task-modal with an OK button; once the driver has asked for it at start, they also
// come to the foreground. The error and warning boxes are captioned with the application name
// (or "Error" / "Warning" while none is known) and owned by the main window's last active pop-up.
// Boxes: main thread only. Versions: any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

#include "os/os.h"

// Process-wide settings of the boxes, set by the driver and the language set-up.
struct BoxSettings {
  std::string applicationName;
  bool setForeground = false;
  os::WindowHandle mainWindow = nullptr;
};
BoxSettings& MessageBoxSettings();

void ShowErrorBox(const std::string& text);    // stop icon
void ShowWarningBox(const std::string& text);  // exclamation icon

// A box with the caller's owner, caption and icon (os::kMbIconStop, ...); returns the answer.
int ShowMessageBox(os::WindowHandle owner, const std::string& caption, const std::string& text,
                   uint32_t icon);

// ---------------------------------------------------------------------------------------------
// File versions

// A file version as its version resource holds it: two 32-bit words of two 16-bit parts each.
// Versions order by the most significant word, then the least significant one, both unsigned, so
// that a major version of 32768 or more is newer than 1.0, never older.
struct TFileVersion {
  uint32_t MostSignificant = 0;   // major << 16 | minor
  uint32_t LeastSignificant = 0;  // build << 16 | revision
  friend auto operator<=>(const TFileVersion&, const TFileVersion&) = default;
};

// "major.minor.build.revision" split at "."; missing parts, and parts that TextToInt cannot read
// as a number from 0 to 65535, count as 0. Parts after the fourth are ignored.
TFileVersion VersionFromText(const std::string& text);
// "%d.%d.%d.%d" of the four parts.
std::string VersionToText(const TFileVersion& version);

// The fixed file version from the file's version resource; nothing when it has none.
std::optional<TFileVersion> FileVersion(const std::string& file);
// VersionToText of the file's version; "" when it has none.
std::string FileVersionText(const std::string& file);

// 1 when version text a is newer than b, -1 when older, 0 when equal (VersionFromText of both):
// "1.2" equals "1.2.0.0", and "1.10" is newer than "1.9".
int CompareVersions(const std::string& a, const std::string& b);

// Whether the installed file is newer than what would replace it, known by its version text
// ("" for none) and its time. date is a Windows file time (100 ns since 1601-01-01 UTC), compared
// with the file's last-write time. False when the file is missing. When both have versions and
// they differ, the file is newer when its version is higher; otherwise it is newer when its time
// is later than date.
bool IsNewer(const std::string& versionText, const std::string& file, int64_t date);
// Whether the file exists, has that version (or one of the two has none) and exactly that
// last-write time (a Windows file time, as for IsNewer).
bool IsSame(const std::string& versionText, const std::string& file, int64_t date);
