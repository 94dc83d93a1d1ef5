#include "support/zrUtils.h"

BoxSettings& MessageBoxSettings() {
  static BoxSettings settings;
  return settings;
}

int ShowMessageBox(os::WindowHandle owner, const std::string& caption, const std::string& text,
                   uint32_t icon) {
  uint32_t flags = os::kMbOk | os::kMbTaskModal | icon;
  if (MessageBoxSettings().setForeground) flags |= os::kMbSetForeground;
  return os::MessageBox(owner, text, caption, flags);
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
