// Deciphering a project file as the driver does before the XML reader sees it: the key from the
// length, then GOST in chaining over the whole buffer. The range is the file size; the setup
// (hashing the key text) is part of each iteration, as it is of each file the engine reads.
#include <benchmark/benchmark.h>

#include <string>

#include "package/Haval.h"
#include "package/PackageCipher.h"

namespace {

std::string Filler(size_t size) {
  std::string text(size, '\0');
  uint32_t seed = 12345;
  for (char& c : text) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<char>(seed >> 16);
  }
  return text;
}

void BM_DecipherDatabase(benchmark::State& state) {
  const std::string cipher = EncipherDatabase(Filler(static_cast<size_t>(state.range(0))));
  for (auto _ : state) {
    std::string plain = DecipherDatabase(cipher);
    benchmark::DoNotOptimize(plain.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DecipherDatabase)
    ->Arg(4 << 10)
    ->Arg(1 << 20)
    ->Arg(16 << 20)
    ->Unit(benchmark::kMillisecond);

void BM_EncipherDatabase(benchmark::State& state) {
  const std::string plain = Filler(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::string cipher = EncipherDatabase(plain);
    benchmark::DoNotOptimize(cipher.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EncipherDatabase)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_Haval(benchmark::State& state) {
  const std::string data = Filler(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Haval256(data));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Haval)->Arg(16)->Arg(1 << 20);

}  // namespace
