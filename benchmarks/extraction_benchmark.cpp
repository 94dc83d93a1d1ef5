// Extraction of a whole cabinet through the engine's unpack library against cabextract on the
// same cabinet: the work of the installation run's file phase, without the installing. The
// cabinet (MS-ZIP, written by kxbuild's writer) holds 48 MiB in 400 files of mixed content:
// random bytes, text, and repetitive binary data. Made once in a folder of its own under /tmp,
// removed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "kxbuild/CabWriter.h"
#include "package/Unpacker.h"

namespace {

std::string WindowsPath(const std::filesystem::path& path) {
  std::string text = "Z:" + path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

std::string FileContent(int index, std::mt19937& random) {
  const size_t size = 40000 + index % 7 * 40000;  // 40 KB to 280 KB
  std::string bytes;
  bytes.reserve(size);
  switch (index % 3) {
    case 0:  // compressed or enciphered data: no redundancy
      while (bytes.size() < size) bytes += static_cast<char>(random());
      break;
    case 1:  // text
      while (bytes.size() < size) {
        bytes +=
            "line " + std::to_string(bytes.size()) + " of a readme or a configuration file\r\n";
      }
      break;
    default:  // code: structured, partly repetitive
      while (bytes.size() < size) {
        bytes += static_cast<char>(random() % 16);
        bytes += "\x8B\x45\x08\x50\xE8";
      }
  }
  bytes.resize(size);
  return bytes;
}

class BenchmarkCabinet {
 public:
  BenchmarkCabinet() : root_("/tmp/kx-extraction-benchmark-" + std::to_string(getpid())) {
    std::filesystem::create_directories(root_ / "payload");
    std::mt19937 random(42);
    os::File output = os::File::Open(WindowsPath(root_ / "payload.cab"), os::File::Mode::kCreate);
    TCabWriter writer(output, TCabCompression::kMszip);
    uint64_t total = 0;
    for (int i = 0; total < 48u << 20; ++i) {
      const std::string name = "file" + std::to_string(i) + ".bin";
      std::ofstream(root_ / "payload" / name, std::ios::binary) << FileContent(i, random);
      writer.AddFile("data\\app\\" + name, WindowsPath(root_ / "payload" / name));
      total += std::filesystem::file_size(root_ / "payload" / name);
    }
    writer.Finish();
    bytes_ = writer.TotalSize();
  }
  ~BenchmarkCabinet() { std::filesystem::remove_all(root_); }

  std::filesystem::path Cabinet() const { return root_ / "payload.cab"; }
  std::filesystem::path Target() const { return root_ / "out"; }
  uint64_t Bytes() const { return bytes_; }

 private:
  std::filesystem::path root_;
  uint64_t bytes_ = 0;
};

BenchmarkCabinet& Cabinet() {
  static BenchmarkCabinet cabinet;
  return cabinet;
}

void BM_ExtractWithUnpackLibrary(benchmark::State& state) {
  BenchmarkCabinet& cabinet = Cabinet();
  const std::string target = WindowsPath(cabinet.Target()) + "\\";
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(cabinet.Target());
    std::filesystem::create_directories(cabinet.Target() / "data" / "app");
    state.ResumeTiming();
    TUnpacker unpacker(WindowsPath(KX_UNPACK_LIBRARY_FILE), WindowsPath(cabinet.Cabinet()));
    bool extracted = unpacker.Extract([&](const TUnpackEntry& entry, std::string& path) {
      path = target + entry.Name;
      return 1;
    });
    if (!extracted) state.SkipWithError("the unpack library failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cabinet.Bytes()));
}
BENCHMARK(BM_ExtractWithUnpackLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExtractWithCabextract(benchmark::State& state) {
  BenchmarkCabinet& cabinet = Cabinet();
  const std::string command = "cabextract -q -d '" + cabinet.Target().string() + "' '" +
                              cabinet.Cabinet().string() + "' >/dev/null 2>&1";
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(cabinet.Target());
    state.ResumeTiming();
    if (std::system(command.c_str()) != 0) state.SkipWithError("cabextract failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cabinet.Bytes()));
}
BENCHMARK(BM_ExtractWithCabextract)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
