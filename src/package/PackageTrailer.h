// The package trailer: the short record after a package's archive that says how big the package
// was built and how its archive divides into presetup files and data.
//
// Layout, in file order after the archive: BuiltSize, PresetupSize, DataSize (32-bit
// little-endian each), the marker "KXPEND", then anything appended later (a signature block) up
// to 64 KiB counted from the end, marker included. Changing it breaks every package already
// shipped.
#pragma once

#include <cstdint>
#include <optional>

#include "os/os.h"

inline constexpr char kPackageMarker[] = "KXPEND";
inline constexpr int64_t kPackageMarkerSize = 6;
inline constexpr int64_t kPackageTrailerNumbersSize = 12;  // BuiltSize, PresetupSize, DataSize

struct TPackageTrailer {
  uint32_t BuiltSize = 0;
  uint32_t PresetupSize = 0;
  uint32_t DataSize = 0;
  int64_t Tail = 0;  // bytes after the marker

  // A package is whole when it is as big as it was built plus what was appended after it.
  bool MatchesFileSize(int64_t fileSize) const {
    return fileSize == static_cast<int64_t>(BuiltSize) + Tail;
  }
};

// The trailer whose marker lies nearest the end within the last 64 KiB of a file of fileSize
// bytes; nothing when there is no marker, the numbers before it are cut off by the start of the
// file, or the file cannot be read.
std::optional<TPackageTrailer> FindPackageTrailer(os::File& file, int64_t fileSize);

// The 32-bit little-endian number at bytes.
uint32_t ReadLittleEndian32(const unsigned char* bytes);

// Reads exactly count bytes at offset; a short read counts as a failure, since a file that
// shrinks under us is not whole.
bool ReadExactlyAt(os::File& file, int64_t offset, unsigned char* buffer, int64_t count);
