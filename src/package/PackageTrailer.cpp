#include "package/PackageTrailer.h"

#include <algorithm>
#include <vector>

std::optional<TPackageTrailer> FindPackageTrailer(os::File& file, int64_t fileSize) {
  const int64_t window = std::min<int64_t>(fileSize, kPackageMarkerWindow);
  if (window < static_cast<int64_t>(kPackageMarkerSize)) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(window));
  if (file.ReadAt(fileSize - window, bytes.data(), bytes.size()) != window) return {};
  const std::optional<size_t> marker = FindLastMarker(bytes.data(), bytes.size(), bytes.size());
  if (!marker) return {};
  TPackageTrailer trailer;
  trailer.Tail = window - static_cast<int64_t>(*marker + kPackageMarkerSize);
  const int64_t start = fileSize - static_cast<int64_t>(kPackageTrailerSize) - trailer.Tail;
  uint8_t read[kPackageTrailerSize];
  if (start < 0 || file.ReadAt(start, read, sizeof(read)) != kPackageTrailerSize) return {};
  const std::optional<TTrailerNumbers> numbers = DecodeTrailer(read);
  if (!numbers) return {};
  static_cast<TTrailerNumbers&>(trailer) = *numbers;
  return trailer;
}
