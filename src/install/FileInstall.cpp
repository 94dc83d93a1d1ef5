#include "install/FileInstall.h"

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "install/Install.h"
#include "install/Log.h"
#include "plugins/PlugImpl.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/SafeNames.h"
#include "support/zrFileFind.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"
#include "support/zrShell.h"

#include <unordered_map>

namespace {

constexpr char kDataPrefix[] = "data\\";
constexpr size_t kDataPrefixLength = 5;
// Not a variable: it survives expansion and marks a destination in the global assembly cache.
constexpr char kGacPrefix[] = "%GAC%\\";
constexpr char kOpaqueText[] = " OPAQUE \"%AppID%\" \"%AppName%\"";
constexpr char kCannotInstall[] = "Cannot install file \"%s\"!";

// The state of the one file in flight, from its before-file call to its after-file call; the
// worker's alone while it runs (the removal handler, on the main thread, runs before it).
struct TFileState {
  TkxPackage* Package = nullptr;
  TkxFile* Item = nullptr;
  TkxFlags Flags;  // empty when no item matched
  bool Matched = false;
  bool Existed = false;
  bool Assembly = false;
  TkxFileInfo* Info = nullptr;
  // The package's file information by upper-case name, first of a name only: a package holds
  // thousands of entries, each looked up once.
  std::unordered_map<std::string, TkxFileInfo*> InfoByName;
  std::string Destination;  // where the file belongs (an assembly: its temporary copy)
  std::string RecordPath;
  TFileItemRecord Record{};
  // Per worker run.
  int AssemblyRecords = 0;
  bool ExternalFailed = false;  // a missing or uncopyable external file stopped the pass
};

TFileState& State() {
  static TFileState state;
  return state;
}

// The name's extension, as matching takes it, is never empty: "." stands for none.
std::string WithExtensionMark(const std::string& path) {
  return ExtractFileName(path).find('.') == std::string::npos ? path + "." : path;
}

bool ItemMatches(const TkxFile& item, const std::string& relativePath) {
  if (item.Action != TkxAction::add || item.Flags.Has(TkxFlag::external)) return false;
  if (!item.ConditionHolds()) return false;
  const std::string src = WithExtensionMark(item.Src);
  const std::string mask = ExtractFileName(src);
  if (!HasWildcards(mask)) return SameText(src, relativePath);
  return MatchWild(ExtractFileName(relativePath), mask, true) &&
         StartsText(ExtractFilePath(relativePath), ExtractFilePath(src));
}

void SetRecord(const std::string& path, uint32_t size, uint32_t dosDateTime, uint32_t attributes,
               uint32_t mode) {
  TFileState& state = State();
  state.RecordPath = path;
  state.Record = {nullptr, size, dosDateTime, attributes, mode};
  state.Record.Path = state.RecordPath.c_str();
}

void PointRecordAt(const std::string& path) {
  TFileState& state = State();
  state.RecordPath = path;
  state.Record.Path = state.RecordPath.c_str();
}

void FailWithMessage(const std::string& text) {
  ShowErrorBox(text);
  RunState().AbortRequested = true;
}

// The existing file is kept: the version and date rules, then the question to the plug-ins.
bool KeepNewerFile(const std::string& destination, const std::string& sourceVersion,
                   int64_t sourceStamp, uint32_t size) {
  const TExistingFile existing = ExistingFileFacts(destination);
  if (ExistingIsNewer(existing, sourceVersion, sourceStamp)) {
    if (State().Flags.Has(TkxFlag::dont_ask)) return true;
    std::atomic<int>& answer = InstallProgress().VersionAnswer;
    if (answer != 3 && answer != 4) {
      intptr_t given =
          Broadcast(EV_VERSIONCONFLICT, reinterpret_cast<intptr_t>(destination.c_str()), 0, false);
      if (given >= 1 && given <= 4) answer = static_cast<int>(given);
    }
    return answer != 2 && answer != 4;
  }
  if (ExistingIsSame(existing, sourceVersion, sourceStamp) &&
      FileSize(destination) == static_cast<int64_t>(size)) {
    return !RunState().RepairMode;
  }
  return false;
}

// Where the bytes go for a destination that is not a folder only; "" after a failure.
std::string PrepareTarget(const std::string& destination) {
  TFileState& state = State();
  TkxMainDatabase& database = MainDatabase();
  if (state.Flags.Has(TkxFlag::reg_font)) {
    const std::string fonts = WithTrailingBackslash(database.TempFontsPath);
    ForceFolders(fonts);
    TInstallFile* action = InstallActions().AddAction<TInstallFile>();
    action->FileName = destination;
    action->PendingFile = fonts + ExtractFileName(destination);
    action->IsFont = true;
    action->FontName = state.Info ? state.Info->FontName : "";
    action->Log = !state.Flags.Has(TkxFlag::dont_log);
    return action->PendingFile;
  }
  TInstallFile* action = InstallActions().AddFile(destination, state.Flags, true);
  if (!action) return "";  // the old file could not be kept safe; the box is shown
  return action->IsPending ? action->PendingFile : destination;
}

// An assembly never reaches its literal destination: it waits in a folder of its own until the
// after-file handler gives it to the cache.
std::string AssemblyDestination(const std::string& name) {
  const std::string parent = WithTrailingBackslash(MainDatabase().TempGACPath);
  ForceFolders(parent);
  return CreateUniqueFolder(parent, false) + name;
}

int SkipFile(uint32_t size) {
  TFileState& state = State();
  ReportFileProgress(size);
  if (state.Matched && state.Flags.Has(TkxFlag::shared)) {
    RaiseSharedCounter(state.Destination, state.Existed);
  }
  if (state.Matched) AfterProcessItem(KX_LIST_FILES, &state.Record);
  return 0;
}

// The before-file handler of both passes. source: the entry name, or the external source path;
// externalItem: the item of the external pass (nullptr in the package pass).
int BeforeFile(const std::string& source, uint32_t size, uint32_t attributes,
               const os::LocalDateTime& date, TkxFile* externalItem, std::string& target) {
  TFileState& state = State();
  state.Item = nullptr;
  state.Flags = TkxFlags{};
  state.Matched = state.Existed = state.Assembly = false;
  state.Destination.clear();
  state.Info = nullptr;
  if (!externalItem && source.size() > kDataPrefixLength) {
    const auto info = state.InfoByName.find(UpperCaseText(source.substr(kDataPrefixLength)));
    if (info != state.InfoByName.end()) state.Info = info->second;
  }
  InstallProgress().CurrentFileSize = size;
  InstallProgress().CurrentFileDone = 0;
  ReportFileProgress(0);
  SetRecord(source, size, LocalTimeToDos(date), attributes, 0);

  TkxFile* item = externalItem;
  std::string relative = source;
  if (!externalItem) {
    item = MatchEntry(source);
    relative = source.size() > kDataPrefixLength ? TextAfter(source.substr(kDataPrefixLength), '\\')
                                                 : std::string();
  }
  bool skip = true;
  bool folderOnly = false;
  if (item && item->ConditionHolds()) {
    state.Item = item;
    state.Matched = true;
    state.Flags = item->Flags;
    const TXMLObject* context = ContextOf(state.Package);
    if (!ItemDestination(*item, relative, externalItem != nullptr, context, state.Destination)) {
      FailWithMessage(CannotInstallMessage(source));
      return -1;
    }
    folderOnly = ExtractFileName(state.Destination) == ".";
    skip = false;
    if (!folderOnly) {
      PointRecordAt(state.Destination);
      skip = !BeforeProcessItem(KX_LIST_FILES, &state.Record);
      // A plug-in may have changed the variables the destination is made of.
      if (!ItemDestination(*item, relative, externalItem != nullptr, context, state.Destination)) {
        FailWithMessage(CannotInstallMessage(source));
        return -1;
      }
      PointRecordAt(state.Destination);
      if (os::GetFileAttributes(state.Destination) != os::kInvalidAttributes) {
        state.Existed = true;
        skip = skip || state.Flags.Has(TkxFlag::dont_overwrite);
      }
      if (!skip && !state.Flags.Has(TkxFlag::no_version) && state.Existed) {
        std::string version = externalItem ? FileVersionText(source)
                                           : (state.Info ? state.Info->Version : std::string());
        skip = KeepNewerFile(state.Destination, version, LocalStamp(date), size);
      }
    }
  }
  if (!folderOnly) {
    Broadcast(EV_PROCESSITEM, skip ? 1 : 0, reinterpret_cast<intptr_t>(&state.Record), true);
  }
  if (skip) return SkipFile(size);

  std::string destination = state.Destination;
  if (StartsText(destination, kGacPrefix)) {
    destination = AssemblyDestination(ExtractFileName(destination));
    state.Assembly = true;
  }
  InstallProgress().LastDestination = destination;
  const std::string folder = ExtractFilePath(destination);
  const bool record = !state.Flags.Has(TkxFlag::dont_log) && !state.Assembly;
  if (!InstallActions().CreateFolders(WithoutTrailingBackslash(folder), record)) {
    FailWithMessage(CannotInstallMessage(ExtractFileName(destination)));
    return -1;
  }
  if (folderOnly) return 0;
  target = PrepareTarget(destination);
  if (target.empty()) {
    RunState().AbortRequested = true;  // told already: no second message for the same file
    return -1;
  }
  state.Destination = destination;
  return 1;
}

bool RegisterAssembly(const std::string& path) {
  TFileState& state = State();
  const TXMLObject* context = ContextOf(state.Package);
  const std::string opaque = ExpandText(context, kOpaqueText);
  const std::string program = FirstPackageFolder() + "gacutil.exe";
  os::Process process = os::CreateProcess(
      "\"" + program + "\" " + Format("/ir \"%s\"%s", path.c_str(), opaque.c_str()), "",
      os::kShowHidden);
  uint32_t exitCode = 1;
  if (!process.IsValid() || !process.Wait(0xFFFFFFFFu) || !process.ExitCode(exitCode) ||
      exitCode != 0) {
    FailWithMessage("Cannot register assembly " + ExtractFileName(path));
    return false;
  }
  if (!state.Flags.Has(TkxFlag::dont_log)) {
    std::string value = ChangeFileExt(ExtractFileName(path), "");
    if (state.Info && !state.Info->AssemblyData.empty()) value += "," + state.Info->AssemblyData;
    WriteLogRecord(TLogSection::SharedAssemblies, std::to_string(++state.AssemblyRecords),
                   value + opaque);
  }
  return true;
}

int AfterFile() {
  TFileState& state = State();
  if (state.Assembly && !RegisterAssembly(state.Destination)) return -1;
  if (state.Flags.Has(TkxFlag::shared)) RaiseSharedCounter(state.Destination, state.Existed);
  PointRecordAt(state.Destination);
  state.Record.Mode = 0;
  AfterProcessItem(KX_LIST_FILES, &state.Record);
  return 1;
}

// While the plug-ins hold the installation, the worker waits between blocks; an abort ends the
// wait and the extraction.
bool GoOn(uint32_t bytes) {
  ReportFileProgress(bytes);  // holds while the plug-ins hold the installation
  return !RunState().AbortRequested;
}

void IndexFileInfos(const TkxPackage& package) {
  auto& index = State().InfoByName;
  index.clear();
  if (!package.FileInfos) return;
  for (int i = 0; i < package.FileInfos->Count(); ++i) {
    TkxFileInfo* info = package.FileInfos->Items(i);
    if (info) index.emplace(UpperCaseText(info->Name), info);
  }
}

bool ExtractPackage(TkxPackage& package) {
  State().Package = &package;
  IndexFileInfos(package);
  TUnpacker unpacker(RunState().SetupTempPath + "unpack.dll", package.FullFileName);
  return unpacker.Extract(
      [](const TUnpackEntry& entry, std::string& target) {
        return BeforeFile(entry.Name, entry.Size, entry.Attributes,
                          DosToLocalTime(entry.Date, entry.Time), nullptr, target);
      },
      [](const TUnpackEntry&, const std::string&) { return AfterFile(); },
      [](const TUnpackProgress& progress) { return GoOn(progress.BlockSize) ? 1 : -1; });
}

bool FailExternal(const std::string& lastDestination) {
  InstallProgress().LastDestination = lastDestination;
  State().ExternalFailed = true;
  RunState().AbortRequested = true;
  return false;
}

bool CopyExternalFile(const std::string& source, TkxFile& item) {
  const uint32_t attributes = os::GetFileAttributes(source);
  std::optional<int64_t> written = os::GetFileWriteTime(source);
  os::LocalDateTime date;
  if (attributes == os::kInvalidAttributes || (attributes & os::kAttrDirectory) || !written ||
      !os::FileTimeToLocalTime(*written, date)) {
    return FailExternal(source);
  }
  std::string target;
  const uint32_t size = static_cast<uint32_t>(FileSize(source));
  int answer = BeforeFile(source, size, attributes, date, &item, target);
  if (answer != 1) return answer != -1;
  bool copied = CopyFileWithProgress(
      source, target,
      [](const std::string&, const std::string&, uint32_t block, uint64_t, uint64_t) {
        return GoOn(block);
      },
      false);
  if (!copied) {
    if (RunState().AbortRequested) return false;
    return FailExternal(InstallProgress().LastDestination);
  }
  return AfterFile() != -1;
}

bool CopyExternalFolder(const std::string& pathMask, TkxFile& item) {
  if (RunState().AbortRequested) return false;
  const std::string folder = ExtractFilePath(pathMask);
  const std::string mask = ExtractFileName(pathMask);
  TzrFileFind files(pathMask, 0, kAttrVolumeLabel | os::kAttrDirectory);
  TzrFoundFile found;
  if (!files.Next(found)) {
    std::string unused;
    if (BeforeFile(folder + ".", 0, 0, os::LocalTime(), &item, unused) == -1) return false;
  } else {
    do {
      if (!CopyExternalFile(found.Path, item)) return false;
    } while (files.Next(found));
  }
  files.Close();
  TzrFileFind folders(pathMask, os::kAttrDirectory, 0);
  while (folders.Next(found)) {
    if (RunState().AbortRequested) return false;
    if (!CopyExternalFolder(Format("%s%s\\%s", folder.c_str(), found.Name.c_str(), mask.c_str()),
                            item)) {
      return false;
    }
  }
  return true;
}

bool CopyExternalFiles(TkxPackage* package, TkxComponent& component, void*) {
  State().Package = package;
  for (int index = 0; index < component.Files->Count(); ++index) {
    TkxFile* item = component.Files->Items(index);
    if (!item || !item->Flags.Has(TkxFlag::external)) continue;
    if (RunState().AbortRequested) return false;
    if (!item->ConditionHolds()) continue;
    const std::string source = ExpandText(ContextOf(package), item->Src);
    bool copied =
        HasWildcards(source) ? CopyExternalFolder(source, *item) : CopyExternalFile(source, *item);
    if (!copied) return false;
  }
  return true;
}

// The tail comes from the archive (or the disk): it must stay inside the folder of Dst. Its last
// name may be "." alone, for a folder only.
bool IsSafeTail(const std::string& tail) {
  if (tail == ".") return true;
  const bool folderOnly = tail.size() > 2 && tail.compare(tail.size() - 2, 2, "\\.") == 0;
  return IsSafeEntryName(folderOnly ? tail.substr(0, tail.size() - 2) : tail);
}

int64_t DaysFromCivil(int year, int month, int day) {
  const int y = year - (month <= 2);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return int64_t{era} * 146097 + dayOfEra - 719468;  // 0 at 1970-01-01
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Matching and destinations

TkxFile* MatchEntry(const std::string& entryName, TkxComponent** component) {
  if (!StartsText(entryName, kDataPrefix)) return nullptr;
  const std::string rest = entryName.substr(kDataPrefixLength);
  const size_t backslash = rest.find('\\');
  if (backslash == std::string::npos) return nullptr;
  TkxComponents* components = MainDatabase().Components.get();
  auto* found = dynamic_cast<TkxComponent*>(components->FindByID(rest.substr(0, backslash)));
  if (!found) return nullptr;
  const std::string relative = WithExtensionMark(rest.substr(backslash + 1));
  for (int index = 0; index < found->Files->Count(); ++index) {
    TkxFile* item = found->Files->Items(index);
    if (item && ItemMatches(*item, relative)) {
      if (component) *component = found;
      return item;
    }
  }
  return nullptr;
}

bool ItemDestination(const TkxFile& item, const std::string& relativePath, bool external,
                     const TXMLObject* context, std::string& destination) {
  destination.clear();
  std::string path = item.Dst;
  if (HasWildcards(item.Src) || HasWildcards(item.Dst)) {
    // The package pass matched the entry against Src as stored; the external pass found the
    // source through Src expanded. The tail is what follows that folder.
    const std::string srcFolder =
        ExtractFilePath(external ? ExpandText(context, item.Src) : item.Src);
    if (relativePath.size() < srcFolder.size()) return false;
    const std::string tail = relativePath.substr(srcFolder.size());
    if (!IsSafeTail(tail)) return false;
    path = ExtractFilePath(ExpandText(context, item.Dst)) + tail;
  }
  path = ExpandText(context, path);
  if (ExtractFileName(path).empty()) {
    // A Dst that names a folder receives the file under its own name.
    const std::string name = ExtractFileName(ExpandText(context, item.Src));
    if (!IsSafeFileName(name)) return false;
    path += name;
  }
  destination = path;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Dates and versions

int64_t LocalStamp(const os::LocalDateTime& time) {
  constexpr int64_t kDaysFrom1601To1970 = 134774;
  const int64_t days = DaysFromCivil(time.year, time.month, time.day) + kDaysFrom1601To1970;
  const int64_t seconds = days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
  return seconds * 1000 + time.millisecond;
}

os::LocalDateTime DosToLocalTime(uint16_t date, uint16_t time) {
  os::LocalDateTime local;
  local.year = 1980 + (date >> 9);
  local.month = (date >> 5) & 0x0F;
  local.day = date & 0x1F;
  local.hour = time >> 11;
  local.minute = (time >> 5) & 0x3F;
  local.second = (time & 0x1F) * 2;
  return local;
}

uint32_t LocalTimeToDos(const os::LocalDateTime& time) {
  if (time.year < 1980) return (1 << 5 | 1) << 16;  // the earliest the format holds
  const uint32_t date = ((time.year - 1980) << 9) | (time.month << 5) | time.day;
  const uint32_t clock = (time.hour << 11) | (time.minute << 5) | (time.second / 2);
  return (date & 0xFFFF) << 16 | (clock & 0xFFFF);
}

TExistingFile ExistingFileFacts(const std::string& path) {
  TExistingFile facts;
  std::optional<int64_t> written = os::GetFileWriteTime(path);
  if (!written || !FileExists(path)) return facts;
  facts.Exists = true;
  facts.Version = FileVersion(path);
  os::LocalDateTime local;
  if (os::FileTimeToLocalTime(*written, local)) facts.Stamp = LocalStamp(local);
  return facts;
}

namespace {

bool DateDecides(const TExistingFile& existing, const std::string& sourceVersion) {
  return sourceVersion.empty() || !existing.Version ||
         *existing.Version == VersionFromText(sourceVersion);
}

}  // namespace

bool ExistingIsNewer(const TExistingFile& existing, const std::string& sourceVersion,
                     int64_t sourceStamp) {
  if (!existing.Exists) return false;
  if (!DateDecides(existing, sourceVersion)) {
    return *existing.Version > VersionFromText(sourceVersion);
  }
  return existing.Stamp > sourceStamp;
}

bool ExistingIsSame(const TExistingFile& existing, const std::string& sourceVersion,
                    int64_t sourceStamp) {
  return existing.Exists && DateDecides(existing, sourceVersion) && existing.Stamp == sourceStamp;
}

// ---------------------------------------------------------------------------------------------
// Counters and messages

void RaiseSharedCounter(const std::string& path, bool existedBefore) {
  if (LoggingOn() && LogKeyExists(TLogSection::SharedFiles, path)) return;
  const bool present = RegValueExists(kSharedDllsKey, path);
  uint32_t count = RegReadNumber(kSharedDllsKey, path, 0);
  // The undo puts back what was there, so a failed run leaves the count it found.
  TInstallReg* action = InstallActions().AddAction<TInstallReg>();
  action->Key = kSharedDllsKey;
  action->Param = path;
  action->Existed = present;
  action->Log = false;
  if (present) {
    action->OldType = static_cast<int32_t>(RegValueType(kSharedDllsKey, path));
    action->OldValue = RegReadText(kSharedDllsKey, path, "");
  }
  if (existedBefore && count == 0) count = 1;
  RegWriteNumber(kSharedDllsKey, path, count + 1);
  WriteLogRecord(TLogSection::SharedFiles, path);
}

std::string CannotInstallMessage(const std::string& path) {
  std::string message = GetMessage(11);
  return FillMessage(message.empty() ? kCannotInstall : message, path);
}

// ---------------------------------------------------------------------------------------------
// The passes

bool CopyPackages() {
  TInstallProgress& progress = InstallProgress();
  TkxPackages& packages = *MainDatabase().Packages;
  progress.VersionAnswer = 1;
  progress.BytesDone = 0;
  int64_t total = 0;
  for (int index = 0; index < packages.Count(); ++index) {
    total += static_cast<uint32_t>(packages.Items(index)->PresetupSize);
    total += static_cast<uint32_t>(packages.Items(index)->DataSize);
  }
  progress.TotalBytes = total;
  State().AssemblyRecords = 0;
  State().ExternalFailed = false;

  bool result = true;
  for (int index = 0; index < packages.Count() && result; ++index) {
    result = ExtractPackage(*packages.Items(index)) && !RunState().AbortRequested;
  }
  if (result && !RunState().AbortRequested) {
    result = ForEachComponent(CopyExternalFiles, nullptr);
    if (!result && State().ExternalFailed) RunState().AbortRequested = false;
  }
  if (!result && !RunState().AbortRequested) {
    ErrorBox("Unpacking error", CannotInstallMessage(progress.LastDestination));
  }
  return result && !RunState().AbortRequested;
}

bool RemoveFiles(TkxPackage* package, TkxComponent& component) {
  for (int index = 0; index < component.Files->Count(); ++index) {
    TkxFile* item = component.Files->Items(index);
    if (!item || item->Action != TkxAction::remove || !item->ConditionHolds()) continue;
    const std::string mask = ExpandText(ContextOf(package), item->Dst);
    TzrFileFind find(mask, 0, kAttrVolumeLabel | os::kAttrDirectory);
    TzrFoundFile found;
    while (find.Next(found)) {
      TFileItemRecord record{found.Path.c_str(), static_cast<uint32_t>(found.Size),
                             LocalTimeToDos(found.LocalTime), found.Attributes, 1};
      if (!BeforeProcessItem(KX_LIST_FILES, &record)) continue;
      InstallActions().AddRemoval(found.Path, item->Flags);
      AfterProcessItem(KX_LIST_FILES, &record);
    }
  }
  return true;
}
