// TzrShellLink: one shell link (".lnk" file) to be written. The caller fills the fields and saves
// the link to a path; the OS layer writes it and tells the shell. Enclosing double quotes, which
// project texts often carry around paths with blanks, are removed from every path and from the
// description; the arguments keep theirs, since a program reads them as its command line. On
// Windows the thread that saves must have COM initialised (os::ComScope).
#pragma once

#include <cstdint>
#include <string>

class TzrShellLink {
 public:
  std::string LinkFile;
  std::string Path;  // the target
  std::string Arguments;
  std::string WorkingDirectory;
  std::string Description;
  std::string IconFile;
  uint8_t ShowMode = 0;  // 0 normal, 1 minimized, 2 maximized
  uint16_t Hotkey = 0;   // virtual key in the low byte, modifiers in the high byte
  int32_t IconIndex = 0;

  // Writes the link to linkFile (also kept in LinkFile); false when it could not be written
  // (os::LastErrorMessage() tells why).
  bool Save(const std::string& linkFile);
};

// The show command of a show mode: 1 minimized without activation, 2 maximized, anything else
// normal.
int ShowCommandOfMode(uint8_t showMode);
