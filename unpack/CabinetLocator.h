// Finds the cabinet inside an archive file handed to the unpack library: either the whole file
// is a cabinet, or the file is a package whose cabinet sits right before the package trailer
// (behind an optional program image). Pure: the caller supplies the bytes, so both backends and
// tests share the same rules.
//
// Uses nothing of the C++ library that needs its runtime: the Windows library links none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kxunpack {

// Where the cabinet lies in the file, in bytes.
struct CabinetWindow {
  uint64_t offset = 0;
  uint64_t length = 0;

  bool operator==(const CabinetWindow&) const = default;
};

// Fills buffer with exactly count bytes of the file at offset; false when that is not possible.
using ReadAtFn = bool (*)(void* context, uint64_t offset, void* buffer, size_t count);

// Size of the fixed part of a cabinet header.
inline constexpr size_t kCabinetHeaderSize = 36;

// True when the 36 bytes at header look like the start of a cabinet (signature, version 1.3,
// reserved fields zero); cabinetSize receives the cabinet's own size field.
bool IsCabinetHeader(const uint8_t* header, uint32_t* cabinetSize);

// The cabinet of the file, nothing when there is none (or no memory to look). A package trailer
// takes precedence over a cabinet header at the start of the file, because a package without a
// program image starts with its cabinet too.
std::optional<CabinetWindow> LocateCabinet(uint64_t fileSize, ReadAtFn readAt, void* context);

// Same, reading through any callable bool(uint64_t offset, void* buffer, size_t count).
template <typename Reader>
std::optional<CabinetWindow> LocateCabinet(uint64_t fileSize, const Reader& reader) {
  return LocateCabinet(
      fileSize,
      [](void* context, uint64_t offset, void* buffer, size_t count) {
        return (*static_cast<const Reader*>(context))(offset, buffer, count);
      },
      const_cast<Reader*>(&reader));
}

}  // namespace kxunpack
