#include "package/PackageTrailer.h"

#include <algorithm>
#include <string>

namespace {

constexpr int64_t kTrailerSize = kPackageTrailerNumbersSize + kPackageMarkerSize;
constexpr int64_t kSearchWindow = 65536;

}  // namespace

uint32_t ReadLittleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool ReadExactlyAt(os::File& file, int64_t offset, unsigned char* buffer, int64_t count) {
  if (!file.Seek(offset)) return false;
  int64_t done = 0;
  while (done < count) {
    int64_t read = file.Read(buffer + done, static_cast<size_t>(count - done));
    if (read <= 0) return false;
    done += read;
  }
  return true;
}

std::optional<TPackageTrailer> FindPackageTrailer(os::File& file, int64_t fileSize) {
  const int64_t window = std::min(fileSize, kSearchWindow);
  std::string bytes(static_cast<size_t>(std::max<int64_t>(window, 0)), '\0');
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  if (window < kPackageMarkerSize || !ReadExactlyAt(file, fileSize - window, data, window))
    return {};
  for (int64_t offset = window - kPackageMarkerSize; offset >= 0; --offset) {
    if (bytes.compare(static_cast<size_t>(offset), kPackageMarkerSize, kPackageMarker) != 0)
      continue;
    TPackageTrailer trailer;
    trailer.Tail = window - offset - kPackageMarkerSize;
    if (kTrailerSize + trailer.Tail > fileSize) return {};
    unsigned char numbers[kTrailerSize];
    if (!ReadExactlyAt(file, fileSize - kTrailerSize - trailer.Tail, numbers, kTrailerSize)) {
      return {};
    }
    trailer.BuiltSize = ReadLittleEndian32(numbers);
    trailer.PresetupSize = ReadLittleEndian32(numbers + 4);
    trailer.DataSize = ReadLittleEndian32(numbers + 8);
    return trailer;
  }
  return {};
}
