// Finding the cabinet inside a plain cabinet file or a package (see CabinetLocator.h).
//
// A package ends with its trailer (package/TrailerLayout.h): the cabinet ends right before the
// trailer's numbers, and its start is the header whose own size field reaches exactly that end.
#include "CabinetLocator.h"

#include <cstdlib>
#include <cstring>

#include "package/TrailerLayout.h"

namespace kxunpack {
namespace {

constexpr size_t kScanChunk = 64 * 1024;
constexpr uint64_t kMaxCabinetSize = 0xFFFFFFFFu;

uint32_t ReadLe32(const uint8_t* p) { return DecodeLittleEndian32(p); }

uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The file as the backend reads it.
struct Reader {
  ReadAtFn readAt;
  void* context;
  bool operator()(uint64_t offset, void* buffer, size_t count) const {
    return readAt(context, offset, buffer, count);
  }
};

// A scratch buffer from the C heap.
class Buffer {
 public:
  explicit Buffer(size_t size) : bytes_(static_cast<uint8_t*>(std::malloc(size ? size : 1))) {}
  ~Buffer() { std::free(bytes_); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  uint8_t* Get() const { return bytes_; }

 private:
  uint8_t* bytes_;
};

// A marker counts only when its BuiltSize names its own position: a tail is arbitrary data and
// may contain the marker's bytes by chance.
bool IsGenuineMarker(uint64_t markerOffset, const Reader& readAt) {
  if (markerOffset < kPackageTrailerNumbersSize) return false;
  uint8_t trailer[kPackageTrailerSize];
  if (!readAt(markerOffset - kPackageTrailerNumbersSize, trailer, sizeof(trailer))) return false;
  const std::optional<TTrailerNumbers> numbers = DecodeTrailer(trailer);
  return numbers && numbers->BuiltSize == markerOffset + kPackageMarkerSize;
}

// Where the cabinet of a package ends: right before the trailer of the genuine marker nearest
// the end of the file.
std::optional<uint64_t> FindPackageCabinetEnd(uint64_t fileSize, const Reader& readAt) {
  if (fileSize < kPackageTrailerSize + kCabinetHeaderSize) return std::nullopt;
  const uint64_t spanStart = fileSize > kPackageMarkerWindow ? fileSize - kPackageMarkerWindow : 0;
  const size_t spanSize = static_cast<size_t>(fileSize - spanStart);
  const Buffer span(spanSize);
  if (!span.Get() || !readAt(spanStart, span.Get(), spanSize)) return std::nullopt;
  for (std::optional<size_t> pos = FindLastMarker(span.Get(), spanSize, spanSize); pos;
       pos = FindLastMarker(span.Get(), spanSize, *pos)) {
    const uint64_t markerOffset = spanStart + *pos;
    if (IsGenuineMarker(markerOffset, readAt)) return markerOffset - kPackageTrailerNumbersSize;
  }
  return std::nullopt;
}

// The start of the cabinet that ends exactly at cabinetEnd.
std::optional<uint64_t> FindCabinetStart(uint64_t cabinetEnd, const Reader& readAt) {
  if (cabinetEnd < kCabinetHeaderSize) return std::nullopt;
  const uint64_t first = cabinetEnd > kMaxCabinetSize ? cabinetEnd - kMaxCabinetSize : 0;
  const uint64_t last = cabinetEnd - kCabinetHeaderSize;  // last possible header offset
  const Buffer buffer(kScanChunk + kCabinetHeaderSize - 1);
  uint8_t* const chunk = buffer.Get();
  if (!chunk) return std::nullopt;
  for (uint64_t chunkStart = first; chunkStart <= last; chunkStart += kScanChunk) {
    const uint64_t headers =
        last - chunkStart + 1 < kScanChunk ? last - chunkStart + 1 : kScanChunk;
    const size_t bytes = static_cast<size_t>(headers) + kCabinetHeaderSize - 1;
    if (!readAt(chunkStart, chunk, bytes)) return std::nullopt;
    for (size_t pos = 0; pos < headers; ++pos) {
      if (chunk[pos] != 'M') continue;
      uint32_t cabinetSize = 0;
      if (IsCabinetHeader(chunk + pos, &cabinetSize) &&
          cabinetSize == cabinetEnd - (chunkStart + pos)) {
        return chunkStart + pos;
      }
    }
  }
  return std::nullopt;
}

std::optional<CabinetWindow> PlainCabinet(uint64_t fileSize, const Reader& readAt) {
  if (fileSize < kCabinetHeaderSize) return std::nullopt;
  uint8_t header[kCabinetHeaderSize];
  uint32_t cabinetSize = 0;
  if (!readAt(0, header, sizeof(header)) || !IsCabinetHeader(header, &cabinetSize)) {
    return std::nullopt;
  }
  // A cabinet larger than its file was cut short.
  if (cabinetSize < kCabinetHeaderSize || cabinetSize > fileSize) return std::nullopt;
  return CabinetWindow{0, cabinetSize};
}

}  // namespace

bool IsCabinetHeader(const uint8_t* header, uint32_t* cabinetSize) {
  if (std::memcmp(header, "MSCF", 4) != 0) return false;
  const bool reservedZero =
      ReadLe32(header + 4) == 0 && ReadLe32(header + 12) == 0 && ReadLe32(header + 20) == 0;
  const bool version13 = ReadLe16(header + 24) == 0x0103;
  if (!reservedZero || !version13) return false;
  *cabinetSize = ReadLe32(header + 8);
  return true;
}

std::optional<CabinetWindow> LocateCabinet(uint64_t fileSize, ReadAtFn readAtFn, void* context) {
  const Reader readAt{readAtFn, context};
  if (const auto end = FindPackageCabinetEnd(fileSize, readAt)) {
    if (const auto start = FindCabinetStart(*end, readAt)) {
      return CabinetWindow{*start, *end - *start};
    }
  }
  return PlainCabinet(fileSize, readAt);
}

}  // namespace kxunpack
