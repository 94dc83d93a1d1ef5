#include "BenchmarkFiles.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "package/Unpacker.h"

std::string WindowsPath(const std::filesystem::path& path) {
  std::string text = "Z:" + path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

namespace {

std::filesystem::path ScratchParent() {
  const char* parent = std::getenv("KX_BENCHMARK_TMP");
  // Absolute, since WindowsPath gives every path drive Z: (the root).
  return parent && *parent ? std::filesystem::absolute(parent) : "/tmp";
}

void CheckExtracted(benchmark::State& state, const std::filesystem::path& target, size_t files) {
  if (FilesBelow(target).size() != files) state.SkipWithError("not every file was extracted");
}

}  // namespace

BenchmarkFolder::BenchmarkFolder(const std::string& name)
    : path_(ScratchParent() / ("kx-" + name + "-" + std::to_string(getpid()))) {
  std::filesystem::create_directories(path_);
}

BenchmarkFolder::~BenchmarkFolder() {
  std::error_code ignored;  // a destructor at exit has no one to tell
  std::filesystem::remove_all(path_, ignored);
}

std::string GeneratedContent(ContentKind kind, size_t size, std::mt19937& random) {
  std::string bytes;
  bytes.reserve(size + 64);
  switch (kind) {
    case ContentKind::kRandom:
      while (bytes.size() < size) bytes += static_cast<char>(random());
      break;
    case ContentKind::kText:
      while (bytes.size() < size) {
        bytes +=
            "line " + std::to_string(bytes.size()) + " of a readme or a configuration file\r\n";
      }
      break;
    case ContentKind::kCode:
      while (bytes.size() < size) {
        bytes += static_cast<char>(random() % 16);
        bytes += "\x8B\x45\x08\x50\xE8";
      }
      break;
  }
  bytes.resize(size);
  return bytes;
}

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::vector<std::string> WritePayload(const std::filesystem::path& folder, uint64_t bytes,
                                      uint32_t seed) {
  static constexpr ContentKind kKinds[] = {ContentKind::kRandom, ContentKind::kText,
                                           ContentKind::kCode};
  std::mt19937 random(seed);
  std::vector<std::string> names;
  uint64_t total = 0;
  for (int i = 0; total < bytes; ++i) {
    const size_t size = 40000 + i % 7 * 40000;
    const std::string name = "file" + std::to_string(i) + ".bin";
    WriteBytes(folder / name, GeneratedContent(kKinds[i % 3], size, random));
    names.push_back(name);
    total += size;
  }
  return names;
}

void ExtractWithUnpackLibrary(benchmark::State& state, const std::filesystem::path& cabinet,
                              const std::filesystem::path& target, uint64_t bytes, size_t files) {
  const std::string targetFolder = WindowsPath(target) + "\\";
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(target);
    state.ResumeTiming();
    // The library writes into existing folders only; cabextract makes its own within its time,
    // so these are made within ours.
    std::filesystem::path folder;
    TUnpacker unpacker(WindowsPath(KX_UNPACK_LIBRARY_FILE), WindowsPath(cabinet));
    bool extracted = unpacker.Extract([&](const TUnpackEntry& entry, std::string& path) {
      path = targetFolder + entry.Name;
      std::string name = entry.Name;
      std::replace(name.begin(), name.end(), '\\', '/');
      const std::filesystem::path entryFolder = (target / name).parent_path();
      if (entryFolder != folder) {
        std::filesystem::create_directories(entryFolder);
        folder = entryFolder;
      }
      return 1;
    });
    if (!extracted) {
      state.SkipWithError("the unpack library failed");
      break;
    }
  }
  CheckExtracted(state, target, files);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void RunCabextract(benchmark::State& state, const std::string& options,
                   const std::filesystem::path& cabinet, const std::filesystem::path& target) {
  const std::string command = "cabextract -q " + options + " -d '" + target.string() + "' '" +
                              cabinet.string() + "' >/dev/null 2>&1";
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(target);
    state.ResumeTiming();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("cabextract failed");
      break;
    }
  }
}

void ExtractWithCabextract(benchmark::State& state, const std::filesystem::path& cabinet,
                           const std::filesystem::path& target, uint64_t bytes, size_t files) {
  RunCabextract(state, "", cabinet, target);
  CheckExtracted(state, target, files);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

std::vector<std::string> FilesBelow(const std::filesystem::path& folder) {
  std::vector<std::string> files;
  if (!std::filesystem::exists(folder)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files.push_back(std::filesystem::relative(entry.path(), folder).generic_string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}
