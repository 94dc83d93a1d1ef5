// The seam between the library's exports and the platform's cabinet decompressor: FDI of the
// system's cabinet.dll on Windows (fdi/), libmspack on Linux (mspack/). Exactly one backend is
// linked into the library.
#pragma once

#include "kxunpack.h"

namespace kxunpack {

// The archive handed to "Open": a plain cabinet, or a package holding one.
struct Archive {
  const char* path;  // as the engine gave it
};

// Walks the archive's entries in order, asking notify what to do with each (see kxunpack.h).
// True when the archive was read to its end or notify asked to stop; false when the archive
// cannot be found, read or decompressed, a target cannot be written, or a volume is missing.
// Never throws: the exports' callers are C code or another compiler's frames.
bool RunExtraction(const Archive& archive, KxUnpackNotify notify, KxUnpackBlock block);

}  // namespace kxunpack
