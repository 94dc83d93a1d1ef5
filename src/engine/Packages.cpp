#include "engine/Packages.h"

#include <algorithm>
#include <optional>

#include "database/KXClasses.h"
#include "database/zrXMLParser.h"
#include "engine/Presetup.h"
#include "engine/Splash.h"
#include "expressions/Common.h"
#include "os/os.h"
#include "package/PackageCipher.h"
#include "package/PackageTrailer.h"
#include "package/Unpacker.h"
#include "plugins/PlugImpl.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

namespace {

// What the package's database sets about itself never overrides what this run found out about
// the package file: where it is, where it was unpacked, how big it is.
struct TPackageFacts {
  explicit TPackageFacts(const TkxPackage& package)
      : FullFileName(package.FullFileName),
        FileName(package.FileName),
        TempPath(package.TempPath),
        PresetupSize(package.PresetupSize),
        DataSize(package.DataSize),
        Needed(package.Needed),
        Prepared(package.Prepared) {}
  void RestoreTo(TkxPackage& package) const {
    package.FullFileName = FullFileName;
    package.FileName = FileName;
    package.TempPath = TempPath;
    package.PresetupSize = PresetupSize;
    package.DataSize = DataSize;
    package.Needed = Needed;
    package.Prepared = Prepared;
  }
  std::string FullFileName, FileName, TempPath;
  int32_t PresetupSize, DataSize;
  bool Needed, Prepared;
};

bool ReportInvalidSize(const TkxPackage& package) {
  ErrorBox("Invalid package",
           Format("Invalid package size!\r\rPackage \"%s\" has been corrupted, installation "
                  "impossible.",
                  package.FullFileName.c_str()));
  return false;
}

// One package's presetup extraction with the state its handlers share.
class TPresetupExtraction {
 public:
  TPresetupExtraction(TkxPackage& package, bool silent, uint64_t total, uint64_t& done)
      : package_(package),
        silent_(silent),
        total_(total),
        done_(done),
        folder_(WithTrailingBackslash(package.TempPath)) {}

  bool Run() {
    if (!ForceFolders(folder_)) return false;
    SetPresetupTitle(Format("Preparing \"%s\" package...", package_.FileName.c_str()));
    TUnpacker unpacker(RunState().SetupTempPath + "unpack.dll", package_.FullFileName);
    bool extracted = unpacker.Extract(
        [this](const TUnpackEntry& entry, std::string& target) { return Before(entry, target); },
        [this](const TUnpackEntry& entry, const std::string& path) { return After(entry, path); },
        [this](const TUnpackProgress& progress) { return Progress(progress); },
        [](const std::string& volume, std::string& folder) {
          return LocatePackage(volume, folder);
        });
    return extracted && !refused_;
  }

 private:
  int Before(const TUnpackEntry& entry, std::string& target) {
    if (!silent_ && !PresetupWindowVisible() && !SameText(entry.Name, "SPLASH.BMP") &&
        !SameText(entry.Name, "PRESETUP.BMP")) {
      ShowPresetupWindow(folder_, package_.FileName);
    }
    if (IsDataEntryName(entry.Name)) return -1;
    // The archive comes from outside: a name that climbs out of the package's folder, reaches a
    // device or is cut by the path limit would let a package write where it has no business.
    if (!IsSafeEntryName(entry.Name) || !FitsPathLimit(folder_, entry.Name)) {
      ReportUnsafeName(package_, entry.Name);
      refused_ = true;
      return -1;
    }
    target = folder_ + entry.Name;
    if (!ForceFolders(ExtractFilePath(target))) {
      throw KxError(Format("Can't create the folder of \"%s\"", target.c_str()));
    }
    return 1;
  }

  int After(const TUnpackEntry& entry, const std::string& path) {
    if (silent_ || PresetupWindowVisible()) return 1;
    if (SameText(entry.Name, "SPLASH.BMP")) {
      ShowSplash(path);
    } else {
      ShowPresetupWindow(folder_, package_.FileName);
    }
    return 1;
  }

  int Progress(const TUnpackProgress& progress) {
    done_ += progress.BlockSize;
    // Without a presetup size to measure against (or with a trailer that understates it), the
    // bar shows the work as finished rather than a meaningless figure.
    uint64_t percent = total_ == 0 ? 100 : DivideRoundingHalfToEven(done_ * 100, total_);
    SetPresetupProgress(static_cast<int>(std::min<uint64_t>(percent, 100)));
    return 1;
  }

  TkxPackage& package_;
  const bool silent_;
  const uint64_t total_;
  uint64_t& done_;
  const std::string folder_;
  bool refused_ = false;
};

// The windows go on every way out of the preparation, an error exception included.
struct TPresetupWindowsCloser {
  ~TPresetupWindowsCloser() {
    DestroyPresetupWindow();
    CloseSplash();
  }
};

// The trailer's sizes are unsigned; the database keeps them in signed fields.
uint64_t PresetupBytes(const TkxPackage& package) {
  return static_cast<uint32_t>(package.PresetupSize);
}

}  // namespace

uint64_t DivideRoundingHalfToEven(uint64_t numerator, uint64_t denominator) {
  if (denominator == 0) return 0;
  uint64_t quotient = numerator / denominator;
  uint64_t remainder = numerator % denominator;
  uint64_t rest = denominator - remainder;  // compared instead of 2 * remainder, which may overflow
  if (remainder > rest || (remainder == rest && (quotient & 1) != 0)) ++quotient;
  return quotient;
}

bool LocatePackage(const std::string& fileName, std::string& folder) {
  // A plug-in that keeps answering without ever naming the right folder would hold the run
  // forever; a person changing disks never needs this many rounds.
  constexpr int kMaxRounds = 100;
  for (int round = 0;; ++round) {
    folder = WithTrailingBackslash(folder);
    if (FileExists(folder + fileName)) return true;
    if (round == kMaxRounds) return false;
    // One byte more than the plug-ins may use, always zero: a folder written to the buffer's end
    // still ends there. A folder that does not fit is not handed over at all, since a cut one
    // would name another.
    char buffer[kPackageFolderBufferSize + 1] = {};
    if (folder.size() < kPackageFolderBufferSize) folder.copy(buffer, folder.size());
    if (Broadcast(EV_GETPACKAGE, reinterpret_cast<intptr_t>(fileName.c_str()),
                  reinterpret_cast<intptr_t>(buffer), false) == 0) {
      return false;
    }
    folder = std::string(buffer);
    // An answer without a folder names none; it would only be taken for the current folder.
    if (folder.empty()) return false;
  }
}

bool CheckPackage(TkxPackage& package) {
  const std::string name = ExtractFileName(package.FullFileName);
  std::string folder = ExtractFilePath(package.FullFileName);
  if (!LocatePackage(name, folder)) {
    ErrorBox("File not found",
             Format("File \"%s\" was not found on your computer. Setup is unable to proceed.\rIf "
                    "this problem persists contact the software vendor.",
                    name.c_str()));
    return false;
  }
  package.FullFileName = folder + name;
  package.FileName = ChangeFileExt(name, "");

  std::optional<TPackageTrailer> trailer;
  int64_t fileSize = -1;
  {
    os::File file = os::File::Open(package.FullFileName, os::File::Mode::kRead);
    if (!file.IsOpen()) {
      ErrorBox("Invalid package",
               Format("Package \"%s\" cannot be opened: %s", package.FullFileName.c_str(),
                      os::LastErrorMessage().c_str()));
      return false;
    }
    fileSize = file.Size();
    if (fileSize >= 0) trailer = FindPackageTrailer(file, fileSize);
  }
  if (!trailer || !trailer->MatchesFileSize(fileSize)) {
    return ReportInvalidSize(package);
  }
  package.PresetupSize = static_cast<int32_t>(trailer->PresetupSize);
  package.DataSize = static_cast<int32_t>(trailer->DataSize);
  package.TempPath = RunState().SetupTempPath + package.FileName + "\\";
  return true;
}

bool PreparePackages() {
  TPresetupWindowsCloser closer;
  TkxMainDatabase& database = MainDatabase();
  const bool silent = GetVariableInt(&database, "SilentMode", 0) != 0;
  TkxPackages& packages = *database.Packages;

  uint64_t total = 0;
  for (int index = 0; index < packages.Count(); ++index) {
    if (!packages.Items(index)->Prepared) total += PresetupBytes(*packages.Items(index));
  }
  if (FreeSpaceKiB(RunState().SetupTempPath) < DivideRoundingHalfToEven(total, 1024)) {
    ErrorBox("Error", "Insufficient free disk space!");
    return false;
  }

  uint64_t done = 0;
  for (int index = 0; index < packages.Count(); ++index) {
    TkxPackage& package = *packages.Items(index);
    if (package.Prepared) continue;
    if (!TPresetupExtraction(package, silent, total, done).Run()) return false;
    package.Prepared = true;
  }
  // Long enough for the presetup window to be seen even when extraction was instant.
  if (!silent) WaitDispatching(os::TickCount(), 100);
  return true;
}

bool ReportUnsafeName(const TkxPackage& package, const std::string& name) {
  ErrorBox("Invalid package",
           Format("Package \"%s\" contains the unsafe file name \"%s\", installation impossible.",
                  package.FullFileName.c_str(), name.c_str()));
  return false;
}

void ReadDatabaseTree(const std::string& path, const std::string& what, TXMLTag& tree) {
  try {
    tree.Parse(ReadDecipheredFile(path));
  } catch (const TXMLParserError& error) {
    ThrowError("Can't read the %s: %s", what.c_str(), error.what());
  }
  // A missing, empty or foreign file reads as a tree without any element. Loaded, it would leave
  // the database without content, and the run would install nothing and call that success.
  if (tree.Name.empty()) ThrowError("Can't read the %s: it is missing or empty.", what.c_str());
}

bool ReadPackageDatabase(TkxPackage& package) {
  TXMLTag tree;
  ReadDatabaseTree(
      package.TempPath + "db.pdb",
      Format("package database of \"%s\"", ExtractFileName(package.FullFileName).c_str()), tree);
  // Merged, so that what the check and the preparation set survives the database's content.
  const TPackageFacts facts(package);
  package.MergeFrom(tree);
  facts.RestoreTo(package);
  // The package's own variable: SetVariable would reach the main database's variable of the same
  // name, and every package has its own presetup folder.
  const std::string presetup = package.TempPath + "presetup";
  if (TkxVariable* variable = package.Variables->FindByName("Presetup")) {
    variable->Value = presetup;
  } else {
    TkxVariable& added = package.Variables->AddNew();
    added.Name = "Presetup";
    added.Value = presetup;
  }
  return true;
}
