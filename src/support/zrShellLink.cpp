#include "support/zrShellLink.h"

#include "os/os.h"
#include "support/zrStrUtils.h"

namespace {

constexpr int kShowNormal = 1;
constexpr int kShowMaximized = 3;
constexpr int kShowMinimizedNoActivate = 7;

std::string Unquoted(const std::string& text) { return Dequote(text, '"'); }

}  // namespace

int ShowCommandOfMode(uint8_t showMode) {
  switch (showMode) {
    case 1:
      return kShowMinimizedNoActivate;
    case 2:
      return kShowMaximized;
    default:
      return kShowNormal;
  }
}

bool TzrShellLink::Save(const std::string& linkFile) {
  LinkFile = linkFile;
  os::ShellLinkData data;
  data.target = Unquoted(Path);
  data.arguments = Arguments;
  data.workingFolder = Unquoted(WorkingDirectory);
  data.description = Unquoted(Description);
  data.iconFile = Unquoted(IconFile);
  data.iconIndex = IconIndex;
  data.hotkey = Hotkey;
  data.showCommand = ShowCommandOfMode(ShowMode);
  return os::SaveShellLink(Unquoted(linkFile), data);
}
