// PeVersion: the fixed file information (VS_FIXEDFILEINFO) of a Windows program or library, found
// by reading the PE file's bytes. It gives what Windows' version API gives for the same file.
//
// Portable: it makes no OS call; the caller hands over the bytes, as a buffer or through a reader,
// so the host OS layer and the authoring tool share it. Every offset and size taken from the file
// is checked before use: a damaged or hostile file yields no version and a reason, never a crash
// or a read outside what the reader supplies. Reentrant; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace os {

// The fields of VS_FIXEDFILEINFO after its signature, in the file's order.
struct PeFixedFileInfo {
  uint32_t structVersion = 0;
  uint32_t fileVersionMS = 0;  // major << 16 | minor
  uint32_t fileVersionLS = 0;  // build << 16 | revision
  uint32_t productVersionMS = 0;
  uint32_t productVersionLS = 0;
  uint32_t fileFlagsMask = 0;
  uint32_t fileFlags = 0;
  uint32_t fileOS = 0;
  uint32_t fileType = 0;
  uint32_t fileSubtype = 0;
  uint32_t fileDateMS = 0;
  uint32_t fileDateLS = 0;
};

// Copies up to count bytes at offset of the file into buffer and returns how many it copied:
// fewer than count only at the end of the file or on a read error.
using PeByteReader = std::function<size_t(uint64_t offset, void* buffer, size_t count)>;

// The fixed information of the version resource that Windows reports: resource type 16
// (RT_VERSION), name 1 (VS_VERSION_INFO), language neutral, else US English, else the first one.
// Nothing when the bytes are not a PE file (PE32 or PE32+), have no such resource, or the resource
// does not hold a fixed information block with the signature 0xFEEF04BD; reason (when given) then
// says which. Reads only the headers, the resource directory and the version block.
std::optional<PeFixedFileInfo> ReadPeFixedFileInfo(const PeByteReader& read,
                                                   std::string* reason = nullptr);
std::optional<PeFixedFileInfo> ReadPeFixedFileInfo(std::span<const uint8_t> image,
                                                   std::string* reason = nullptr);

}  // namespace os
