#include "BinaryKind.h"

#include <cstdint>

namespace {

uint32_t LittleEndian(const std::string& bytes, size_t offset, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) {
    value = value << 8 | static_cast<uint8_t>(bytes[offset + static_cast<size_t>(i)]);
  }
  return value;
}

TBinaryKind ElfKind(const std::string& bytes) {
  constexpr size_t kType = 16;  // e_type, after the 16 identification bytes
  constexpr uint32_t kSharedObject = 3;
  constexpr char kLittleEndian = 1;
  TBinaryKind kind{"host", false};
  if (bytes.size() >= kType + 2) {
    const bool little = bytes[5] == kLittleEndian;
    const uint32_t type =
        little ? LittleEndian(bytes, kType, 2)
               : (static_cast<uint8_t>(bytes[kType]) << 8 | static_cast<uint8_t>(bytes[kType + 1]));
    kind.Library = type == kSharedObject;
  }
  return kind;
}

TBinaryKind PeKind(const std::string& bytes) {
  constexpr size_t kHeaderOffset = 0x3C;
  constexpr uint32_t kDllFlag = 0x2000;
  if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) return {};
  const uint32_t pe = LittleEndian(bytes, kHeaderOffset, 4);
  // The signature, then the file header: machine at +4, characteristics at +22.
  if (pe > bytes.size() || bytes.size() - pe < 24 ||
      bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    return {};
  }
  const uint32_t machine = LittleEndian(bytes, pe + 4, 2);
  const bool library = (LittleEndian(bytes, pe + 22, 2) & kDllFlag) != 0;
  if (machine == 0x14C) return {"win32", library};
  if (machine == 0x8664) return {"win64", library};
  return {};
}

}  // namespace

TBinaryKind BinaryKindOf(const std::string& head) {
  if (head.rfind("\x7f"
                 "ELF",
                 0) == 0) {
    return ElfKind(head);
  }
  return PeKind(head);
}

std::string DescribeKind(const TBinaryKind& kind) {
  if (kind.Target == "host") return kind.Library ? "a Linux shared object" : "a Linux program";
  if (kind.Target.empty()) return "no program or library kxbuild knows";
  const std::string bits = kind.Target == "win32" ? "32-bit" : "64-bit";
  return "a " + bits + " Windows " + (kind.Library ? "DLL" : "program");
}

std::string PluginKindFor(const std::string& target) { return DescribeKind({target, true}); }
