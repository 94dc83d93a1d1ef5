#include "os/PeVersion.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace os {
namespace {

constexpr uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kNewHeaderOffsetField = 0x3C;
constexpr size_t kSignatureAndFileHeaderSize = 4 + 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kResourceDirectoryIndex = 2;

constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;  // a named entry; an entry leading to a subdirectory
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kVsVersionInfo = 1;
constexpr uint32_t kLangNeutral = 0x0000;
constexpr uint32_t kLangEnglishUs = 0x0409;

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoSize = 13 * 4;
// The block's own length field has 16 bits, so nothing of it lies further than this.
constexpr size_t kMaxBlockBytes = 0x10000;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

size_t AlignTo4(size_t value) { return (value + 3) & ~size_t{3}; }

struct Section {
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawOffset = 0;
};

struct DirectoryEntry {
  uint32_t name = 0;
  uint32_t target = 0;
  bool IsId(uint32_t id) const { return (name & kHighBit) == 0 && name == id; }
  bool LeadsToDirectory() const { return (target & kHighBit) != 0; }
  uint32_t Offset() const { return target & ~kHighBit; }
};

// One walk from the DOS header to the fixed information. The path through the resource tree has
// a fixed depth, so a hostile tree cannot make it loop.
class VersionFinder {
 public:
  explicit VersionFinder(const PeByteReader& read) : read_(read) {}

  std::optional<PeFixedFileInfo> Find() {
    uint32_t blockRva = 0, blockSize = 0;
    if (!ReadHeaders() || !FindVersionData(blockRva, blockSize)) return std::nullopt;
    return ReadFixedInfo(blockRva, blockSize);
  }

  const std::string& Reason() const { return reason_; }

 private:
  bool Fail(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }

  bool ReadExactly(uint64_t offset, void* buffer, size_t count) {
    return read_(offset, buffer, count) == count;
  }

  bool ReadHeaders() {
    uint8_t dos[kDosHeaderSize];
    if (!ReadExactly(0, dos, sizeof(dos)) || Le16(dos) != kDosMagic) {
      return Fail("not a program or library (no MZ header)");
    }
    uint64_t peOffset = Le32(dos + kNewHeaderOffsetField);
    uint8_t fileHeader[kSignatureAndFileHeaderSize];
    if (!ReadExactly(peOffset, fileHeader, sizeof(fileHeader)) ||
        Le32(fileHeader) != kPeSignature) {
      return Fail("not a PE file (no PE header)");
    }
    uint16_t sectionCount = Le16(fileHeader + 4 + 2);
    uint16_t optionalSize = Le16(fileHeader + 4 + 16);

    std::vector<uint8_t> optional(optionalSize);
    if (!ReadExactly(peOffset + sizeof(fileHeader), optional.data(), optional.size())) {
      return Fail("the PE header is truncated");
    }
    if (!FindResourceDirectory(optional)) return false;
    return ReadSections(peOffset + sizeof(fileHeader) + optionalSize, sectionCount);
  }

  bool FindResourceDirectory(const std::vector<uint8_t>& optional) {
    if (optional.size() < 2) return Fail("the PE header has no optional header");
    size_t countField = 0;
    switch (Le16(optional.data())) {
      case kPe32Magic:
        countField = 92;
        break;
      case kPe32PlusMagic:
        countField = 108;
        break;
      default:
        return Fail("not a PE32 or PE32+ file");
    }
    size_t entry = countField + 4 + kResourceDirectoryIndex * 8;
    if (optional.size() < entry + 8 ||
        Le32(optional.data() + countField) <= kResourceDirectoryIndex) {
      return Fail("the file has no resources");
    }
    resourceRva_ = Le32(optional.data() + entry);
    if (resourceRva_ == 0 || Le32(optional.data() + entry + 4) == 0) {
      return Fail("the file has no resources");
    }
    return true;
  }

  bool ReadSections(uint64_t offset, uint16_t count) {
    std::vector<uint8_t> table(size_t{count} * kSectionHeaderSize);
    if (!ReadExactly(offset, table.data(), table.size())) {
      return Fail("the section table is truncated");
    }
    sections_.resize(count);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* header = table.data() + i * kSectionHeaderSize;
      sections_[i] = {Le32(header + 12), Le32(header + 16), Le32(header + 20)};
    }
    return true;
  }

  // Where count bytes at rva lie in the file: inside one section's raw data, or nowhere.
  std::optional<uint64_t> FileOffset(uint64_t rva, uint64_t count) const {
    for (const Section& section : sections_) {
      if (rva >= section.virtualAddress &&
          rva + count <= uint64_t{section.virtualAddress} + section.rawSize) {
        return uint64_t{section.rawOffset} + (rva - section.virtualAddress);
      }
    }
    return std::nullopt;
  }

  bool ReadAtRva(uint64_t rva, void* buffer, size_t count) {
    std::optional<uint64_t> offset = FileOffset(rva, count);
    return offset && ReadExactly(*offset, buffer, count);
  }

  // The entries of the resource directory at offset (from the start of the resource tree).
  bool ReadDirectory(uint32_t offset, std::vector<DirectoryEntry>& entries) {
    uint64_t rva = uint64_t{resourceRva_} + offset;
    uint8_t header[kDirectoryHeaderSize];
    if (!ReadAtRva(rva, header, sizeof(header))) return Fail("the resource directory is damaged");
    size_t count = size_t{Le16(header + 12)} + Le16(header + 14);
    std::vector<uint8_t> raw(count * kDirectoryEntrySize);
    if (!ReadAtRva(rva + kDirectoryHeaderSize, raw.data(), raw.size())) {
      return Fail("the resource directory is damaged");
    }
    entries.resize(count);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* entry = raw.data() + i * kDirectoryEntrySize;
      entries[i] = {Le32(entry), Le32(entry + 4)};
    }
    return true;
  }

  static const DirectoryEntry* FindId(const std::vector<DirectoryEntry>& entries, uint32_t id) {
    auto found = std::find_if(entries.begin(), entries.end(),
                              [id](const DirectoryEntry& entry) { return entry.IsId(id); });
    return found == entries.end() ? nullptr : &*found;
  }

  // Windows picks the language after the user's; that cannot be known here, so the neutral
  // language comes first, then US English, then whatever the file lists first.
  static const DirectoryEntry* ChooseLanguage(const std::vector<DirectoryEntry>& entries) {
    for (uint32_t language : {kLangNeutral, kLangEnglishUs}) {
      if (const DirectoryEntry* entry = FindId(entries, language)) return entry;
    }
    return entries.empty() ? nullptr : &entries.front();
  }

  bool FindVersionData(uint32_t& blockRva, uint32_t& blockSize) {
    std::vector<DirectoryEntry> entries;
    if (!ReadDirectory(0, entries)) return false;
    const DirectoryEntry* type = FindId(entries, kRtVersion);
    if (!type) return Fail("the file has no version resource");
    if (!type->LeadsToDirectory()) return Fail("the resource directory is damaged");

    if (!ReadDirectory(type->Offset(), entries)) return false;
    const DirectoryEntry* name = FindId(entries, kVsVersionInfo);
    if (!name) return Fail("the file has no version resource");
    if (!name->LeadsToDirectory()) return Fail("the resource directory is damaged");

    if (!ReadDirectory(name->Offset(), entries)) return false;
    const DirectoryEntry* language = ChooseLanguage(entries);
    if (!language) return Fail("the file has no version resource");
    if (language->LeadsToDirectory()) return Fail("the resource directory is damaged");

    uint8_t data[kDataEntrySize];
    if (!ReadAtRva(uint64_t{resourceRva_} + language->Offset(), data, sizeof(data))) {
      return Fail("the resource directory is damaged");
    }
    blockRva = Le32(data);
    blockSize = Le32(data + 4);
    return true;
  }

  std::optional<PeFixedFileInfo> ReadFixedInfo(uint32_t blockRva, uint32_t blockSize) {
    // Only the start of the block must lie in a section: like Windows, the rest is read from
    // the file as far as the resource's size says.
    if (blockSize == 0) {
      Fail("the version resource is empty");
      return std::nullopt;
    }
    std::optional<uint64_t> offset = FileOffset(blockRva, 1);
    if (!offset) {
      Fail("the version resource lies outside the file");
      return std::nullopt;
    }
    std::vector<uint8_t> block(std::min<size_t>(blockSize, kMaxBlockBytes));
    block.resize(read_(*offset, block.data(), block.size()));

    size_t valueOffset = 0;
    if (!FindValue(block, valueOffset) || Le16(block.data() + 2) < kFixedInfoSize ||
        valueOffset + kFixedInfoSize > block.size()) {
      Fail("the version resource has no fixed information");
      return std::nullopt;
    }
    const uint8_t* value = block.data() + valueOffset;
    if (Le32(value) != kFixedInfoSignature) {
      Fail("the version resource's fixed information has a wrong signature");
      return std::nullopt;
    }
    PeFixedFileInfo info;
    uint32_t* fields[] = {&info.structVersion,    &info.fileVersionMS,    &info.fileVersionLS,
                          &info.productVersionMS, &info.productVersionLS, &info.fileFlagsMask,
                          &info.fileFlags,        &info.fileOS,           &info.fileType,
                          &info.fileSubtype,      &info.fileDateMS,       &info.fileDateLS};
    for (size_t i = 0; i < std::size(fields); ++i) *fields[i] = Le32(value + 4 + 4 * i);
    return info;
  }

  // The value follows the block's key, aligned to 4 bytes from the block's start. Windows tells
  // the two layouts apart as here: a printable byte where the 32-bit layout has its type word
  // means the 16-bit layout (length, value length, ANSI key).
  static bool FindValue(const std::vector<uint8_t>& block, size_t& valueOffset) {
    if (block.size() < 6) return false;
    if (block[4] >= ' ') {
      auto end = std::find(block.begin() + 4, block.end(), uint8_t{0});
      if (end == block.end()) return false;
      valueOffset = AlignTo4(static_cast<size_t>(end - block.begin()) + 1);
      return true;
    }
    for (size_t at = 6; at + 1 < block.size(); at += 2) {
      if (Le16(block.data() + at) == 0) {
        valueOffset = AlignTo4(at + 2);
        return true;
      }
    }
    return false;
  }

  const PeByteReader& read_;
  std::string reason_;
  uint32_t resourceRva_ = 0;
  std::vector<Section> sections_;
};

}  // namespace

std::optional<PeFixedFileInfo> ReadPeFixedFileInfo(const PeByteReader& read, std::string* reason) {
  VersionFinder finder(read);
  std::optional<PeFixedFileInfo> info = finder.Find();
  if (reason) *reason = info ? std::string() : finder.Reason();
  return info;
}

std::optional<PeFixedFileInfo> ReadPeFixedFileInfo(std::span<const uint8_t> image,
                                                   std::string* reason) {
  PeByteReader read = [image](uint64_t offset, void* buffer, size_t count) -> size_t {
    if (offset >= image.size()) return 0;
    size_t available = std::min<uint64_t>(count, image.size() - offset);
    std::memcpy(buffer, image.data() + offset, available);
    return available;
  };
  return ReadPeFixedFileInfo(read, reason);
}

}  // namespace os
