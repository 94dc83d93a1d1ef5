// Actions: the record of every change the installation run makes to the machine. Each change is
// an action object appended to the one action list; the list is undone from the last action to
// the first when the run fails (Rollback), saved with the project database when the run stops
// for a reboot and loaded again when it resumes, and at the end of a successful run it writes
// the install log from which the uninstaller later removes the application.
//
// The list is saved as the element "installactions" with the items "file", "reg", "ini",
// "shortcut", "folder" and "regkey" (created keys are carried across a reboot too, so that a
// resumed run that fails still removes them). Elements of other names are not loaded. The
// format lives only in the run's temporary folder between a suspend and its resume, so it may
// change with the engine.
//
// Main thread, except while the worker thread copies files: then only the worker appends (file
// and folder actions) and the main thread only dispatches events.
#pragma once

#include <string>

#include "database/KXClasses.h"
#include "database/zrXMLObject.h"

// One recorded change. Log: the action is written to the install log (the negation of the
// item's dont_log). Existed: the target was there before; it is restored by Undo and not logged.
class TInstallAction : public TXMLObject {
  KX_XML_CLASS(TInstallAction, TXMLObject)

  bool Log = true;
  bool Existed = false;

  // Every concrete class overrides both (the base is bound, so it cannot be abstract).
  // Reverses the change; reports its own failures in error boxes and never throws for them.
  virtual void Undo() {}
  // Writes the action's install-log record (only called for Log and not Existed).
  virtual void WriteLogRecord() {}
  // What the action changed, for the diagnostic log.
  virtual std::string Target() const { return ""; }
};

class TInstallFile : public TInstallAction {
  KX_XML_CLASS(TInstallFile, TInstallAction)

  std::string FileName;        // the target path
  std::string BackupFileName;  // the copy of the old file in the database's TempBackupPath
  std::string FontName;        // the font's registry name
  bool IsServer = false;
  bool IsFont = false;
  bool SharedFile = false;
  // IsPending (not saved): the old file could not be deleted; PendingFile then receives the new
  // contents and is moved onto FileName at the next start of the system. For a font handed over
  // to the font phase, PendingFile is its temporary copy in TempFontsPath; it is saved so that
  // the hand-over is still known as one after a resume.
  std::string PendingFile;
  bool IsPending = false;
  // Made by a removal item: the file went (or goes at the next start of the system) and must
  // never be registered as a server or font, however the item's flags read.
  bool Removed = false;
  // The server phase registered the file: only then has rollback a registration to take back
  // (unregistering a file never registered could remove another copy's registration).
  bool ServerRegistered = false;

  // A font hand-over deletes only its temporary copy: a font the phase installed has a record
  // of its own, undone first, that restores what was there, and a font or registration that
  // existed before the run is never the hand-over's to remove.
  void Undo() override;
  void WriteLogRecord() override;
  std::string Target() const override { return FileName; }
  // Marks the record of a file (or link) that goes for good: when it could not be deleted now,
  // it goes at the next start of the system instead of being replaced there by an empty file.
  void MarkRemoved();
};

class TInstallReg : public TInstallAction {
  KX_XML_CLASS(TInstallReg, TInstallAction)

  std::string Key;    // registry path, with its root
  std::string Param;  // value name
  int32_t OldType = 0;
  std::string OldValue;  // the old value's text form

  void Undo() override;
  void WriteLogRecord() override;
  std::string Target() const override { return Key + "|" + Param; }
};

class TInstallIni : public TInstallAction {
  KX_XML_CLASS(TInstallIni, TInstallAction)

  std::string IniFile;
  std::string Section;
  std::string Param;
  std::string OldValue;

  void Undo() override;  // nothing: the file is restored through its own TInstallFile
  void WriteLogRecord() override;
  std::string Target() const override { return IniFile + " [" + Section + "] " + Param; }
};

class TInstallShortcut : public TInstallAction {
  KX_XML_CLASS(TInstallShortcut, TInstallAction)

  std::string LinkFile;

  void Undo() override;  // nothing: the link is restored through its own TInstallFile
  void WriteLogRecord() override;
  std::string Target() const override { return LinkFile; }
};

class TInstallFolder : public TInstallAction {
  KX_XML_CLASS(TInstallFolder, TInstallAction)

  std::string Folder;

  void Undo() override;  // removes the folder when it is empty
  void WriteLogRecord() override;
  std::string Target() const override { return Folder; }
};

class TInstallRegKey : public TInstallAction {
  KX_XML_CLASS(TInstallRegKey, TInstallAction)

  std::string Key;

  void Undo() override;  // deletes the key, not its subkeys
  void WriteLogRecord() override;
  std::string Target() const override { return Key; }
};

class TInstallActions : public TXMLObjectList {
  KX_XML_CLASS(TInstallActions, TXMLObjectList)

  TInstallAction* Action(int index) const;

  // Appends a new action of class T (owned by the list) and returns it.
  template <class T>
  T* AddAction() {
    auto action = std::make_unique<T>(this);
    T* added = action.get();
    Add(std::move(action));
    return added;
  }
  // Appends a TInstallFile for path and clears the way for the new file: an existing file is
  // backed up into TempBackupPath and, with clear, unregistered (reg_server), its font removed
  // (reg_font) and deleted; a file that cannot be deleted becomes pending ("Reboot" is set).
  // nullptr after an error box, with nothing changed and nothing appended, when the old file
  // cannot be backed up, or cannot be deleted and no pending file can be made: the caller must
  // not write the file then.
  TInstallFile* AddFile(const std::string& path, TkxFlags flags, bool clear);
  // AddFile for a file that goes for good, its record marked so (MarkRemoved).
  TInstallFile* AddRemoval(const std::string& path, TkxFlags flags);
  // Appends a TInstallReg for the value name under key before it is written: Existed, OldType
  // and OldValue tell what is there now.
  TInstallReg* AddRegValue(const std::string& key, const std::string& name);
  // The first file action for path (case ignored), or nullptr.
  TInstallFile* FindFile(const std::string& path) const;
  // Makes folder and its parents, outermost first; with record, a TInstallFolder for each
  // folder made. False when the folder does not exist afterwards.
  bool CreateFolders(const std::string& folder, bool record);
  // Makes the registry key and its parents; with record, a TInstallRegKey for each key made,
  // outermost first. False when the key does not exist afterwards.
  bool CreateRegKeys(const std::string& key, bool record);
  // Undoes and removes every action, the last first. Never stops: an undo that fails has shown
  // its error box, and one that raises has its message shown; the next action is undone.
  void Rollback();
  // WriteLogRecord for every action with Log set and Existed clear, in order.
  void WriteLog();
  // Lists every action in the diagnostic log, when there is one.
  void LogRecords() const;
  // Schedules, for the next start of the system, each pending file's move into place (or the
  // deletion of the target when it has no pending file).
  void ApplyPendingFiles();

  const TXMLClassInfo* ItemClass(const std::string& elementName) const override;
  std::string ItemElementName(const TXMLClassInfo& itemClass) const override;
};

// The run's one action list, made on first use and never destroyed.
TInstallActions& InstallActions();
