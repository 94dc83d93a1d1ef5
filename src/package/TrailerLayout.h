// The package trailer's layout, encoded and decoded here only: by the engine and kxtool (through
// PackageTrailer.h), by kxbuild, which writes it, and by the unpack library, which finds the
// cabinet before it. Header only, since the unpack library links nothing of the engine.
//
// Layout, in file order after the archive: BuiltSize, PresetupSize, DataSize (32-bit
// little-endian each), the marker "KXPEND", then anything appended later (a signature block) up
// to 64 KiB counted from the end, marker included. BuiltSize counts the file up to and including
// the marker. Changing any of it breaks every package already shipped.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

inline constexpr char kPackageMarker[] = "KXPEND";
inline constexpr size_t kPackageMarkerSize = 6;
inline constexpr size_t kPackageTrailerNumbersSize = 12;  // BuiltSize, PresetupSize, DataSize
inline constexpr size_t kPackageTrailerSize = kPackageTrailerNumbersSize + kPackageMarkerSize;
// How far from the end of the file a marker may begin: the marker and the longest tail.
inline constexpr size_t kPackageMarkerWindow = 65536;

struct TTrailerNumbers {
  uint32_t BuiltSize = 0;
  uint32_t PresetupSize = 0;
  uint32_t DataSize = 0;
};

inline uint32_t DecodeLittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void EncodeLittleEndian32(uint32_t value, uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The trailer's bytes: the three numbers and the marker.
inline std::array<uint8_t, kPackageTrailerSize> EncodeTrailer(const TTrailerNumbers& numbers) {
  std::array<uint8_t, kPackageTrailerSize> bytes{};
  EncodeLittleEndian32(numbers.BuiltSize, bytes.data());
  EncodeLittleEndian32(numbers.PresetupSize, bytes.data() + 4);
  EncodeLittleEndian32(numbers.DataSize, bytes.data() + 8);
  std::memcpy(bytes.data() + kPackageTrailerNumbersSize, kPackageMarker, kPackageMarkerSize);
  return bytes;
}

// The numbers of the trailer at bytes (kPackageTrailerSize of them); nothing when the marker is
// not where it belongs.
inline std::optional<TTrailerNumbers> DecodeTrailer(const uint8_t* bytes) {
  if (std::memcmp(bytes + kPackageTrailerNumbersSize, kPackageMarker, kPackageMarkerSize) != 0) {
    return std::nullopt;
  }
  return TTrailerNumbers{DecodeLittleEndian32(bytes), DecodeLittleEndian32(bytes + 4),
                         DecodeLittleEndian32(bytes + 8)};
}

// The offset of the last marker that begins before end in bytes[0, size), searching from the end
// down; nothing when there is none.
inline std::optional<size_t> FindLastMarker(const uint8_t* bytes, size_t size, size_t end) {
  if (end > size) end = size;
  if (size < kPackageMarkerSize) return std::nullopt;
  for (size_t at = std::min(end, size - kPackageMarkerSize + 1); at-- > 0;) {
    if (std::memcmp(bytes + at, kPackageMarker, kPackageMarkerSize) == 0) return at;
  }
  return std::nullopt;
}
