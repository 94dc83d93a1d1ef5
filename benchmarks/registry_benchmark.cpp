// Registry writes and reads through the engine's path-string calls on the host store, where
// every write is saved to the machine's file before it returns. Runs on a machine root of its
// own, removed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "os/host/HostPaths.h"
#include "os/host/RegistryStore.h"
#include "support/zrRegIni.h"

namespace {

const char kKey[] = "HKCU\\Software\\kxsetup-benchmark";

class BenchmarkMachine {
 public:
  BenchmarkMachine() : root_("/tmp/kx-registry-benchmark-" + std::to_string(getpid())) {
    setenv("KX_ROOT", root_.c_str(), 1);
    os::host::ResetMachineRoot();
  }
  ~BenchmarkMachine() { std::filesystem::remove_all(root_); }

 private:
  std::string root_;
};

void UseBenchmarkMachine() { static BenchmarkMachine machine; }

std::vector<std::string> ValueNames(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back("Value" + std::to_string(i));
  return names;
}

// An installation's pattern: many values, each written once, into a key that grows.
void BM_RegWriteStringDistinctValues(benchmark::State& state) {
  UseBenchmarkMachine();
  const std::vector<std::string> names = ValueNames(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    RegDeleteKeyPath(kKey, true);
    state.ResumeTiming();
    for (const std::string& name : names) {
      if (!RegWriteString(kKey, name, "C:\\Program Files\\Vendor\\Product\\" + name)) {
        state.SkipWithError("write failed");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  RegDeleteKeyPath(kKey, true);
}
BENCHMARK(BM_RegWriteStringDistinctValues)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_RegReadString(benchmark::State& state) {
  UseBenchmarkMachine();
  const std::vector<std::string> names = ValueNames(static_cast<int>(state.range(0)));
  RegDeleteKeyPath(kKey, true);
  for (const std::string& name : names) RegWriteString(kKey, name, "C:\\Program Files\\" + name);
  for (auto _ : state) {
    for (const std::string& name : names) {
      benchmark::DoNotOptimize(RegReadText(kKey, name, ""));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  RegDeleteKeyPath(kKey, true);
}
BENCHMARK(BM_RegReadString)->Arg(1000)->Unit(benchmark::kMillisecond);

// One write into a store that already holds many values: the whole file is written each time.
// The large store is made directly as a file, which would take minutes through single writes.
void BM_RegWriteIntoLargeStore(benchmark::State& state) {
  UseBenchmarkMachine();
  RegDeleteKeyPath(kKey, true);
  os::host::RegistryTree tree;
  os::host::SeedRegistry(tree, "user");
  bool created = false;
  const std::string text = "C:\\Program Files\\Vendor\\Product\\file.dll";
  for (int i = 0; i < state.range(0); ++i) {
    os::host::RegistryKey* key = tree.Create(
        os::RegRoot::kLocalMachine, "SOFTWARE\\Filler\\k" + std::to_string(i / 500), created);
    tree.SetAnsi(*key, "Value" + std::to_string(i), os::kRegString,
                 reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1);
  }
  const std::string file = os::host::MachineRoot() + "/system.reg";
  std::ofstream(file, std::ios::binary | std::ios::trunc) << os::host::PrintRegistryText(tree);
  state.counters["file_kB"] = static_cast<double>(std::filesystem::file_size(file)) / 1024;
  int counter = 0;
  for (auto _ : state) {
    if (!RegWriteNumber(kKey, "counter", ++counter)) {
      state.SkipWithError("write failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove(file);  // the other benchmarks start from a seeded store again
}
BENCHMARK(BM_RegWriteIntoLargeStore)->Arg(0)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
