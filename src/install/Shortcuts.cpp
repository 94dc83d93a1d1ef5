#include "install/Shortcuts.h"

#include <string>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "install/FileInstall.h"
#include "install/Install.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrShellLink.h"
#include "support/zrUtils.h"

namespace {

struct TShortcutTexts {
  std::string Name, CmdLine, Arg, WorkDir, IconFile, Description;
  std::string LinkFile() const { return Name + ".lnk"; }
};

TShortcutTexts ExpandShortcut(const TXMLObject* context, const TkxShortcut& item) {
  return {ExpandText(context, item.Name),     ExpandText(context, item.CmdLine),
          ExpandText(context, item.Arg),      ExpandText(context, item.WorkDir),
          ExpandText(context, item.IconFile), ExpandText(context, item.Description)};
}

uint8_t ShowMode(TkxShowCmd showCmd) {
  switch (showCmd) {
    case TkxShowCmd::scMin:
      return 1;
    case TkxShowCmd::scMax:
      return 2;
    default:
      return 0;  // a hidden shortcut would start a program nobody can see
  }
}

KxShortcutRecord ShortcutRecord(const TShortcutTexts& texts, const TkxShortcut& item) {
  KxShortcutRecord record{};
  record.name = reinterpret_cast<kx_ptr>(texts.Name.c_str());
  record.cmdLine = reinterpret_cast<kx_ptr>(texts.CmdLine.c_str());
  record.arg = reinterpret_cast<kx_ptr>(texts.Arg.c_str());
  record.workDir = reinterpret_cast<kx_ptr>(texts.WorkDir.c_str());
  record.showMode = ShowMode(item.ShowCmd);
  record.iconFile = reinterpret_cast<kx_ptr>(texts.IconFile.c_str());
  record.icon = item.Icon;
  record.hotkey = static_cast<uint32_t>(item.Hotkey);
  record.description = reinterpret_cast<kx_ptr>(texts.Description.c_str());
  record.removal = item.Action == TkxAction::remove ? 1 : 0;
  return record;
}

// Writes the link (into the file that waits for the next start of the system when the old link
// is in use) and records it; an error box when it cannot be written.
void CreateLink(const TShortcutTexts& texts, const TkxShortcut& item, const TInstallFile& file) {
  const std::string link = texts.LinkFile();
  const bool logged = !item.Flags.Has(TkxFlag::dont_log);
  TzrShellLink shellLink;
  shellLink.Path = texts.CmdLine;
  shellLink.Arguments = texts.Arg;
  shellLink.WorkingDirectory = texts.WorkDir;
  shellLink.IconFile = texts.IconFile;
  shellLink.IconIndex = item.Icon;
  shellLink.Hotkey = static_cast<uint16_t>(item.Hotkey & 0xFFFF);
  shellLink.ShowMode = ShowMode(item.ShowCmd);
  shellLink.Description = texts.Description;
  if (!shellLink.Save(file.IsPending ? file.PendingFile : link)) {
    ErrorBox("Shortcut creation error", Format("Error creating shortcut \"%s\".", link.c_str()));
    return;
  }
  TInstallShortcut* action = InstallActions().AddAction<TInstallShortcut>();
  action->LinkFile = link;
  action->Log = logged;
}

void ProcessShortcut(const TXMLObject* context, const TkxShortcut& item) {
  TShortcutTexts texts = ExpandShortcut(context, item);
  KxShortcutRecord record = ShortcutRecord(texts, item);
  if (!BeforeProcessItem(KX_LIST_SHORTCUTS, &record)) return;
  texts = ExpandShortcut(context, item);  // a plug-in may have changed what the texts use
  record = ShortcutRecord(texts, item);
  const std::string link = texts.LinkFile();
  const bool removal = item.Action == TkxAction::remove;
  if (!removal && item.Flags.Has(TkxFlag::dont_overwrite) && FileExists(link)) return;
  // Folders made for the link are recorded before the link itself: rollback, which goes backwards,
  // then removes the link first and finds them empty.
  if (!removal) {
    InstallActions().CreateFolders(ExtractFilePath(link), !item.Flags.Has(TkxFlag::dont_log));
  }
  // The link's own record, made before it changes, restores or removes it on rollback.
  TInstallFile* file = InstallActions().FindFile(link);
  if (!file) {
    TkxFlags flags = item.Flags;
    file = InstallActions().AddFile(link, flags.Include(TkxFlag::dont_log), true);
  }
  // Without a record (the old link could not be backed up, as its box said) the old link stays:
  // nothing could bring it back.
  if (file && removal) {
    if (FileExists(link)) DeleteFileForced(link);
    file->MarkRemoved();
  } else if (file) {
    CreateLink(texts, item, *file);
  }
  AfterProcessItem(KX_LIST_SHORTCUTS, &record);
}

}  // namespace

bool ShortcutHandler(TkxPackage* package, TkxComponent& component) {
  if (!component.Shortcuts) return true;
  const TXMLObject* context = ContextOf(package);
  for (int index = 0; index < component.Shortcuts->Count(); ++index) {
    const TkxShortcut* item = component.Shortcuts->Items(index);
    if (item && CheckCondition(*item)) ProcessShortcut(context, *item);
  }
  return true;
}
