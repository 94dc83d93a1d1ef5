#include "install/Fonts.h"

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "install/Install.h"
#include "os/os.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"
#include "support/zrShell.h"

namespace {

std::string FontsFolder() {
  return WithoutTrailingBackslash(GetVariable(&MainDatabase(), "Fonts", ""));
}

// The file registered for name: its value as a path, a bare file name being one of the fonts
// folder; "" when name is not registered.
std::string RegisteredFile(const std::string& name) {
  if (name.empty() || !RegValueExists(FontsKey(), name)) return "";
  const std::string file = RegReadText(FontsKey(), name, "");
  if (file.empty() || !ExtractFilePath(file).empty()) return file;
  return FontsFolder() + "\\" + file;
}

bool IsTrueTypeFile(const std::string& path) {
  const std::string name = ExtractFileName(path);
  const size_t dot = name.rfind('.');
  return dot != std::string::npos && SameText(name.substr(dot), ".ttf");
}

// A name in target's folder that no entry has, made of target's own name and extension.
std::string BesideUnderOwnName(const std::string& target) {
  const std::string folder = ExtractFilePath(target);
  const std::string name = ExtractFileName(target);
  const size_t dot = name.rfind('.');
  const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  return folder + UniqueName(folder, base, extension, false);
}

// The fonts key holds a bare name for a file of the fonts folder, the full path for any other.
std::string RegistryFileValue(const std::string& target) {
  const std::string folder = WithoutTrailingBackslash(ExtractFilePath(target));
  return SameText(folder, FontsFolder()) ? ExtractFileName(target) : target;
}

}  // namespace

bool InstallFont(const std::string& name, const std::string& source, const std::string& target,
                 bool log) {
  std::string fontName = name;
  std::string file = target;
  std::string registered = RegisteredFile(fontName);
  // A nameless font has nothing to look up: a suffix alone would be a name of its own.
  if (registered.empty() && !fontName.empty() && IsTrueTypeFile(file)) {
    fontName += " (TrueType)";
    registered = RegisteredFile(fontName);
  }
  if (!registered.empty()) {
    file = registered;
  } else if (FileExists(file)) {
    file = BesideUnderOwnName(file);
  }
  TkxFlags flags;
  flags.Include(TkxFlag::reg_font);
  if (!log) flags.Include(TkxFlag::dont_log);
  TInstallFile* action = InstallActions().AddFile(file, flags, true);
  if (!action) return false;
  action->FontName = fontName;
  if (!CopyFileWithProgress(source, action->IsPending ? action->PendingFile : file, nullptr,
                            false)) {
    return false;
  }
  if (!registered.empty()) {
    action->Log = false;  // the registration, and the record of it, belong to whoever made it
    return true;
  }
  if (!os::AddFontResource(file)) return false;
  if (!fontName.empty() && !RegWriteString(FontsKey(), fontName, RegistryFileValue(file))) {
    return false;
  }
  os::NotifyFontChange();
  return true;
}

bool InstallFonts() {
  TInstallActions& actions = InstallActions();
  const int count = actions.Count();
  for (int index = 0; index < count; ++index) {
    auto* handOver = dynamic_cast<TInstallFile*>(actions.Action(index));
    if (!handOver || !handOver->IsFont || handOver->Removed) continue;
    KxPathRecord record{reinterpret_cast<kx_ptr>(handOver->FileName.c_str()), 0};
    if (!BeforeProcessItem(KX_LIST_FONTS, &record)) continue;
    if (!InstallFont(handOver->FontName, handOver->PendingFile, handOver->FileName,
                     handOver->Log)) {
      ErrorBox("Font registering error",
               Format("Can not register font \"%s\"!", handOver->FontName.c_str()));
      return false;
    }
    handOver->Log = false;
    AfterProcessItem(KX_LIST_FONTS, &record);
  }
  return true;
}
