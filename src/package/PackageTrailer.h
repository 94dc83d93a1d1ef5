// Finding the package trailer of a file as the engine does (the layout is in TrailerLayout.h):
// the marker nearest the end within the last 64 KiB wins.
#pragma once

#include <cstdint>
#include <optional>

#include "os/os.h"
#include "package/TrailerLayout.h"

struct TPackageTrailer : TTrailerNumbers {
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
