#include "package/PackageTrailer.h"

#include <algorithm>
#include <string>

namespace {

constexpr char kMarker[] = "KXPEND";
constexpr int64_t kMarkerSize = 6;
constexpr int64_t kTrailerSize = 18;  // BuiltSize, PresetupSize, DataSize, marker
constexpr int64_t kSearchWindow = 65536;

uint32_t LittleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// A short read counts as a failure: a file that shrinks under us is not whole.
bool ReadExactly(os::File& file, int64_t offset, unsigned char* buffer, int64_t count) {
  if (!file.Seek(offset)) return false;
  int64_t done = 0;
  while (done < count) {
    int64_t read = file.Read(buffer + done, static_cast<size_t>(count - done));
    if (read <= 0) return false;
    done += read;
  }
  return true;
}

}  // namespace

std::optional<TPackageTrailer> FindPackageTrailer(os::File& file, int64_t fileSize) {
  const int64_t window = std::min(fileSize, kSearchWindow);
  std::string bytes(static_cast<size_t>(std::max<int64_t>(window, 0)), '\0');
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  if (window < kMarkerSize || !ReadExactly(file, fileSize - window, data, window)) return {};
  for (int64_t offset = window - kMarkerSize; offset >= 0; --offset) {
    if (bytes.compare(static_cast<size_t>(offset), kMarkerSize, kMarker) != 0) continue;
    TPackageTrailer trailer;
    trailer.Tail = window - offset - kMarkerSize;
    if (kTrailerSize + trailer.Tail > fileSize) return {};
    unsigned char numbers[kTrailerSize];
    if (!ReadExactly(file, fileSize - kTrailerSize - trailer.Tail, numbers, kTrailerSize)) {
      return {};
    }
    trailer.BuiltSize = LittleEndian32(numbers);
    trailer.PresetupSize = LittleEndian32(numbers + 4);
    trailer.DataSize = LittleEndian32(numbers + 8);
    return trailer;
  }
  return {};
}
