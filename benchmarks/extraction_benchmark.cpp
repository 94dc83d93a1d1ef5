// Extraction of a whole cabinet through the engine's unpack library against cabextract on the
// same cabinet: the work of the installation run's file phase, without the installing. The
// cabinet (MS-ZIP, written by kxbuild's writer) holds 48 MiB in 315 files of mixed content:
// random bytes, text, and repetitive binary data. Made once in a folder of its own under /tmp,
// removed at the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "BenchmarkFiles.h"
#include "kxbuild/CabWriter.h"

namespace {

class BenchmarkCabinet {
 public:
  BenchmarkCabinet() : folder_("extraction-benchmark") {
    const std::filesystem::path payload = folder_.Path() / "payload";
    const auto names = WritePayload(payload, uint64_t{48} << 20);
    os::File output = os::File::Open(WindowsPath(Cabinet()), os::File::Mode::kCreate);
    TCabWriter writer(output, TCabCompression::kMszip);
    for (const std::string& name : names) {
      writer.AddFile("data\\app\\" + name, WindowsPath(payload / name));
    }
    writer.Finish();
    bytes_ = writer.TotalSize();
    files_ = writer.Entries().size();
  }

  std::filesystem::path Cabinet() const { return folder_.Path() / "payload.cab"; }
  std::filesystem::path Target() const { return folder_.Path() / "out"; }
  uint64_t Bytes() const { return bytes_; }
  size_t Files() const { return files_; }

 private:
  BenchmarkFolder folder_;
  uint64_t bytes_ = 0;
  size_t files_ = 0;
};

BenchmarkCabinet& Cabinet() {
  static BenchmarkCabinet cabinet;
  return cabinet;
}

void BM_ExtractWithUnpackLibrary(benchmark::State& state) {
  BenchmarkCabinet& cabinet = Cabinet();
  ExtractWithUnpackLibrary(state, cabinet.Cabinet(), cabinet.Target(), cabinet.Bytes(),
                           cabinet.Files());
}
BENCHMARK(BM_ExtractWithUnpackLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExtractWithCabextract(benchmark::State& state) {
  BenchmarkCabinet& cabinet = Cabinet();
  ExtractWithCabextract(state, cabinet.Cabinet(), cabinet.Target(), cabinet.Bytes(),
                        cabinet.Files());
}
BENCHMARK(BM_ExtractWithCabextract)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
