// Cabinet writing: kxbuild's writer TCabWriter (MS-ZIP at its default zlib level) against
// `gcab -cz` on the same payload of about 200 MiB in files of mixed content, named and ordered
// alike in both cabinets. Each run writes the whole cabinet, so one iteration is plenty; ask for
// repetitions to see the spread. The counters give the cabinet's size. The payload is made once,
// outside the timing, in a folder of its own under /tmp removed at the end. The writer cuts
// folders of 4 MiB, as kxbuild does, and compresses them on the number of threads given.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchmarkFiles.h"
#include "kxbuild/CabWriter.h"

namespace {

class BuildPayload {
 public:
  BuildPayload() : folder_("build-benchmark") {
    names_ = WritePayload(Folder(), uint64_t{200} << 20);
    for (const std::string& name : names_) bytes_ += std::filesystem::file_size(Folder() / name);
  }

  std::filesystem::path Root() const { return folder_.Path() / "payload"; }
  std::filesystem::path Folder() const { return Root() / "data" / "app"; }
  std::filesystem::path Cabinet() const { return folder_.Path() / "out.cab"; }
  const std::vector<std::string>& Names() const { return names_; }
  uint64_t Bytes() const { return bytes_; }

 private:
  BenchmarkFolder folder_;
  std::vector<std::string> names_;
  uint64_t bytes_ = 0;
};

BuildPayload& Payload() {
  static BuildPayload payload;
  return payload;
}

void ReportSizes(benchmark::State& state, const BuildPayload& payload) {
  std::error_code error;
  const uintmax_t written = std::filesystem::file_size(payload.Cabinet(), error);
  if (error) {
    state.SkipWithError("no cabinet was written");
    return;
  }
  state.counters["bytes_in"] = static_cast<double>(payload.Bytes());
  state.counters["bytes_out"] = static_cast<double>(written);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.Bytes()));
}

void BM_WriteCabinetWithCabWriter(benchmark::State& state) {
  BuildPayload& payload = Payload();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(payload.Cabinet());
    state.ResumeTiming();
    os::File output = os::File::Open(WindowsPath(payload.Cabinet()), os::File::Mode::kCreate);
    TCabWriter writer(output, TCabCompression::kMszip);
    writer.SetFolderSize(uint64_t{4} << 20);
    writer.SetJobs(static_cast<unsigned>(state.range(0)));
    for (const std::string& name : payload.Names()) {
      writer.AddFile("data\\app\\" + name, WindowsPath(payload.Folder() / name));
    }
    writer.Finish();
    output.Close();  // gcab's time includes closing its output too
  }
  ReportSizes(state, payload);
}
BENCHMARK(BM_WriteCabinetWithCabWriter)
    ->ArgName("jobs")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// The names are given in the writer's order (a shell wildcard would sort them by name), so both
// compress the same stream.
void BM_WriteCabinetWithGcab(benchmark::State& state) {
  BuildPayload& payload = Payload();
  std::string command =
      "cd '" + payload.Root().string() + "' && gcab -cz '" + payload.Cabinet().string() + "'";
  for (const std::string& name : payload.Names()) command += " data/app/" + name;
  command += " >/dev/null 2>&1";
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(payload.Cabinet());
    state.ResumeTiming();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("gcab failed");
      break;
    }
  }
  ReportSizes(state, payload);
}
BENCHMARK(BM_WriteCabinetWithGcab)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
