// Package preparation: the engine's PreparePackages() extracting a package's presetup files (the
// entries before its first "data\" entry) into the package's temporary folder, against cabextract
// extracting the same entries from the same package; and the whole package extracted by both.
//
// The package is what kxbuild writes for a setup with a splash, language files and two plug-ins:
// about 9 MiB of presetup entries in kxbuild's order, then 48 MiB of data entries of mixed
// content, in one MS-ZIP cabinet followed by the package trailer. It is a further package (no
// engine stub before the cabinet), so that cabextract finds the cabinet at once instead of
// scanning a stub for it. Everything lives in a folder of its own under /tmp, removed at the end,
// and the engine sees a machine of its own there ($KX_ROOT).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchmarkFiles.h"
#include "database/KXClasses.h"
#include "engine/Packages.h"
#include "expressions/Common.h"
#include "kxbuild/CabWriter.h"
#include "os/host/HostPaths.h"
#include "support/RunState.h"

namespace {

// A splash or presetup picture: a 24-bit bitmap of a gradient with some grain, which deflate
// shrinks about as much as it does real artwork.
std::string Bitmap(size_t size, std::mt19937& random) {
  std::string bytes = "BM";
  bytes.resize(54, '\0');
  for (size_t i = bytes.size(); i < size; ++i) {
    bytes += static_cast<char>((i / 3 % 640 + i / 1920) / 5 + random() % 8);
  }
  return bytes.substr(0, size);
}

// A plug-in library: code with data and resources that do not compress.
std::string Library(size_t size, std::mt19937& random) {
  return GeneratedContent(ContentKind::kCode, size / 4 * 3, random) +
         GeneratedContent(ContentKind::kRandom, size - size / 4 * 3, random);
}

struct PresetupFile {
  std::string name;  // as in the cabinet
  std::string bytes;
};

// kxbuild's order: splash, presetup bitmap, other presetup files, languages in name order,
// plug-ins, then the two databases (enciphered, so as random as data gets).
std::vector<PresetupFile> PresetupFiles() {
  std::mt19937 random(7);
  std::vector<PresetupFile> files;
  files.push_back({"splash.bmp", Bitmap(1 << 20, random)});
  files.push_back({"presetup.bmp", Bitmap(256 << 10, random)});
  files.push_back({"license.txt", GeneratedContent(ContentKind::kText, 32 << 10, random)});
  for (const char* language : {"DEU", "ENU", "ESN", "FRA", "ITA", "NLD", "PLK", "RUS"}) {
    files.push_back({std::string("lng\\") + language + ".lng",
                     GeneratedContent(ContentKind::kText, 64 << 10, random)});
  }
  files.push_back({"plugins\\0\\ui.dll", Library(4 << 20, random)});
  files.push_back({"plugins\\0\\ui.ini", GeneratedContent(ContentKind::kText, 2 << 10, random)});
  files.push_back({"plugins\\1\\autopilot.dll", Library(3 << 20, random)});
  files.push_back({"db.pdb", GeneratedContent(ContentKind::kRandom, 512 << 10, random)});
  files.push_back({"main.pdb", GeneratedContent(ContentKind::kRandom, 128 << 10, random)});
  return files;
}

std::string LittleEndian32(uint64_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

std::string ForwardSlashes(std::string name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return name;
}

class BenchmarkPackage {
 public:
  BenchmarkPackage() : folder_("package-benchmark") {
    // Before the engine's first call into the OS layer, which keeps the root it finds then.
    setenv("KX_ROOT", (folder_.Path() / "machine").c_str(), 1);
    os::host::ResetMachineRoot();
    WritePackage();
    SetUpEngine();
  }

  const std::filesystem::path& File() const { return file_; }
  // Where PreparePackages() puts the presetup files: the package's TempPath.
  std::filesystem::path TempFolder() const { return folder_.Path() / "setup" / "Setup"; }
  std::filesystem::path Target() const { return folder_.Path() / "out"; }
  TkxPackage& Package() const { return *package_; }
  const std::vector<std::string>& PresetupNames() const { return presetupNames_; }
  uint64_t PresetupBytes() const { return presetupBytes_; }
  uint64_t Bytes() const { return presetupBytes_ + dataBytes_; }
  size_t Files() const { return files_; }

 private:
  void WritePackage() {
    const std::filesystem::path sources = folder_.Path() / "presetup";
    const std::filesystem::path payload = folder_.Path() / "payload";
    file_ = folder_.Path() / "Setup.kxp";
    os::File output = os::File::Open(WindowsPath(file_), os::File::Mode::kCreate);
    TCabWriter writer(output, TCabCompression::kMszip);
    for (const PresetupFile& presetup : PresetupFiles()) {
      const std::string name = ForwardSlashes(presetup.name);
      WriteBytes(sources / name, presetup.bytes);
      writer.AddFile(presetup.name, WindowsPath(sources / name));
      presetupNames_.push_back(name);
      presetupBytes_ += presetup.bytes.size();
    }
    std::sort(presetupNames_.begin(), presetupNames_.end());
    for (const std::string& name : WritePayload(payload, uint64_t{48} << 20)) {
      writer.AddFile("data\\app\\" + name, WindowsPath(payload / name));
    }
    writer.Finish();
    files_ = writer.Entries().size();
    dataBytes_ = writer.TotalSize() - presetupBytes_;
    // BuiltSize counts the whole file: the cabinet (at its start) and the 18 bytes of trailer.
    const std::string trailer = LittleEndian32(writer.CabinetSize() + 18) +
                                LittleEndian32(presetupBytes_) + LittleEndian32(dataBytes_) +
                                "KXPEND";
    if (!output.Write(trailer.data(), trailer.size())) {
      throw std::runtime_error("Cannot write the trailer of " + file_.string());
    }
  }

  // As the run has it after reading the setup's own package: the unpack library in the setup's
  // temporary folder, the package checked, no windows.
  void SetUpEngine() {
    const std::filesystem::path setup = folder_.Path() / "setup";
    std::filesystem::create_directories(setup);
    std::filesystem::copy_file(KX_UNPACK_LIBRARY_FILE, setup / "unpack.dll");
    RunState().SetupTempPath = WindowsPath(setup) + "\\";
    SetVariable(&MainDatabase(), "SilentMode", "1");
    package_ = &MainDatabase().Packages->AddNew();
    package_->FullFileName = WindowsPath(file_);
    if (!CheckPackage(*package_)) throw std::runtime_error("the benchmark package is invalid");
  }

  BenchmarkFolder folder_;
  std::filesystem::path file_;
  TkxPackage* package_ = nullptr;
  std::vector<std::string> presetupNames_;  // "/"-separated, sorted
  uint64_t presetupBytes_ = 0;
  uint64_t dataBytes_ = 0;
  size_t files_ = 0;
};

BenchmarkPackage& Package() {
  static BenchmarkPackage package;
  return package;
}

// Both sides must have extracted the presetup files and nothing else.
void CheckPresetupFiles(benchmark::State& state, const std::filesystem::path& folder) {
  if (FilesBelow(folder) != Package().PresetupNames()) {
    state.SkipWithError("other files than the presetup files were extracted");
  }
}

void BM_PreparePackage(benchmark::State& state) {
  BenchmarkPackage& package = Package();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(package.TempFolder());
    package.Package().Prepared = false;
    state.ResumeTiming();
    if (!PreparePackages()) {
      state.SkipWithError("PreparePackages failed");
      break;
    }
  }
  CheckPresetupFiles(state, package.TempFolder());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * package.PresetupBytes()));
}
BENCHMARK(BM_PreparePackage)->Unit(benchmark::kMillisecond)->UseRealTime();

// cabextract takes one shell pattern (a second -F replaces the first) and has no "stop at the
// first data entry", so the data entries' names are what tells them apart here: every one ends
// in a digit before its extension ("data/app/file12.bin"), no presetup name does. cabextract
// then decompresses the folder as far as the last presetup entry and skips the data entries
// without decompressing them, which is the preparation's work; the check after the loop proves
// the pattern picked exactly the presetup files.
void BM_PreparePackageWithCabextract(benchmark::State& state) {
  BenchmarkPackage& package = Package();
  const std::filesystem::path target = package.Target();
  RunCabextract(state, "-F '*[!0-9].*'", package.File(), target);
  CheckPresetupFiles(state, target);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * package.PresetupBytes()));
}
BENCHMARK(BM_PreparePackageWithCabextract)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole package, presetup and data, as the extraction benchmark does it for a plain cabinet.
void BM_ExtractPackageWithUnpackLibrary(benchmark::State& state) {
  BenchmarkPackage& package = Package();
  ExtractWithUnpackLibrary(state, package.File(), package.Target(), package.Bytes(),
                           package.Files());
}
BENCHMARK(BM_ExtractPackageWithUnpackLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExtractPackageWithCabextract(benchmark::State& state) {
  BenchmarkPackage& package = Package();
  ExtractWithCabextract(state, package.File(), package.Target(), package.Bytes(), package.Files());
}
BENCHMARK(BM_ExtractPackageWithCabextract)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
