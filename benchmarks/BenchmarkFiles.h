// Files for the benchmarks of the package subsystem (extraction, preparation, cabinet writing):
// scratch folders under /tmp, payloads of mixed content made the same way on every run, and the
// two extractions they compare. Benchmarks run by hand on one thread.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

// The Windows name of a Linux path as the host OS layer sees it: "/tmp/x" is "Z:\tmp\x".
std::string WindowsPath(const std::filesystem::path& path);

// A folder "/tmp/kx-<name>-<process id>" made at construction and removed, with everything in
// it, at destruction (for the statics of a benchmark: at the end of the run). $KX_BENCHMARK_TMP
// names another parent than /tmp: extraction on a disk's file system measures its file creation
// as much as the extractor, and a tmpfs takes that out.
class BenchmarkFolder {
 public:
  explicit BenchmarkFolder(const std::string& name);
  ~BenchmarkFolder();
  BenchmarkFolder(const BenchmarkFolder&) = delete;
  BenchmarkFolder& operator=(const BenchmarkFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// What a payload file is like, as far as a compressor can tell.
enum class ContentKind {
  kRandom,  // compressed or enciphered data: no redundancy
  kText,    // a readme or a configuration file
  kCode,    // program code: structured, partly repetitive
};

std::string GeneratedContent(ContentKind kind, size_t size, std::mt19937& random);

// Writes bytes as file, making its folders first.
void WriteBytes(const std::filesystem::path& file, const std::string& bytes);

// Writes files "file<i>.bin" of mixed content (kinds in turn, 40 KB to 280 KB each) into folder
// until they hold at least bytes in all. Same seed, same files. The names, in order of writing.
std::vector<std::string> WritePayload(const std::filesystem::path& folder, uint64_t bytes,
                                      uint32_t seed = 42);

// Timed loops for benchmark bodies: the whole of cabinet (a plain cabinet or a package) extracted
// into target (made empty before every iteration, outside the timing) through the unpack library
// the build made, or through cabextract. bytes and files are what one extraction writes; another
// number of files left in target fails the benchmark.
void ExtractWithUnpackLibrary(benchmark::State& state, const std::filesystem::path& cabinet,
                              const std::filesystem::path& target, uint64_t bytes, size_t files);
// Times cabextract with options extracting cabinet into a fresh target, once per iteration.
void RunCabextract(benchmark::State& state, const std::string& options,
                   const std::filesystem::path& cabinet, const std::filesystem::path& target);
void ExtractWithCabextract(benchmark::State& state, const std::filesystem::path& cabinet,
                           const std::filesystem::path& target, uint64_t bytes, size_t files);

// The relative paths ("/"-separated) of the files below folder, sorted; for checking what an
// extraction left.
std::vector<std::string> FilesBelow(const std::filesystem::path& folder);
