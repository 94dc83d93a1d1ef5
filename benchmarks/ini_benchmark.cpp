// The INI cache under the load of an installation that logs many entries to one file: 10,000
// WriteStrings, 10,000 ReadStrings, and the flush that writes the file (IniClose). The range
// argument spreads the keys over that many sections (1: every key in one section).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "support/zrFileUtils.h"
#include "support/zrIniFile.h"
#include "support/zrRegIni.h"

namespace {

constexpr int kEntries = 10000;

std::string BenchmarkFolder() { return TemporaryPath() + "kx_ini_benchmark\\"; }

std::string BenchmarkFile() {
  ForceFolders(BenchmarkFolder());
  return BenchmarkFolder() + "bench.ini";
}

struct Entry {
  std::string section, key, value;
};

std::vector<Entry> Entries(int sections) {
  std::vector<Entry> entries;
  for (int i = 0; i < kEntries; ++i) {
    entries.push_back({"Section" + std::to_string(i % sections), "Key" + std::to_string(i),
                       "C:\\Program Files\\Vendor\\Product\\file" + std::to_string(i) + ".dll"});
  }
  return entries;
}

void StartEmpty(const std::string& file) {
  IniCloseAll();
  DeleteFileForced(file);
}

void Finish(const std::string& file) {
  StartEmpty(file);
  os::RemoveDir(WithoutTrailingBackslash(BenchmarkFolder()));
}

void WriteAll(const std::string& file, const std::vector<Entry>& entries) {
  for (const Entry& e : entries) IniWriteString(file, e.section, e.key, e.value);
}

void BM_IniCacheWriteString(benchmark::State& state) {
  IniDefaults().Unquote = false;
  const std::string file = BenchmarkFile();
  const std::vector<Entry> entries = Entries(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    StartEmpty(file);
    state.ResumeTiming();
    WriteAll(file, entries);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
  Finish(file);
}

void BM_IniCacheReadString(benchmark::State& state) {
  IniDefaults().Unquote = false;
  const std::string file = BenchmarkFile();
  const std::vector<Entry> entries = Entries(static_cast<int>(state.range(0)));
  StartEmpty(file);
  WriteAll(file, entries);
  IniClose(file);
  for (auto _ : state) {
    state.PauseTiming();
    IniCloseAll();  // each round loads the file afresh with its first read
    state.ResumeTiming();
    for (const Entry& e : entries) {
      benchmark::DoNotOptimize(IniReadString(file, e.section, e.key, ""));
    }
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
  Finish(file);
}

void BM_IniCacheFlush(benchmark::State& state) {
  IniDefaults().Unquote = false;
  const std::string file = BenchmarkFile();
  const std::vector<Entry> entries = Entries(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    StartEmpty(file);
    WriteAll(file, entries);
    state.ResumeTiming();
    IniClose(file);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(os::File::Open(file, os::File::Mode::kRead).Size()));
  Finish(file);
}

BENCHMARK(BM_IniCacheWriteString)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IniCacheReadString)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IniCacheFlush)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
