// The host's shell links: written in the binary format Windows itself writes, so that what a host
// install leaves behind is a real link that Windows and link readers open.
//
// The layout: a 76-byte header (class identifier of the shell-link object, flags telling which
// parts follow, the target's attributes, times and size, icon index, show command, hot key); link
// information holding the volume and the local base path of the target; the counted UTF-16
// strings that the flags announce (description, relative path, working folder, arguments, icon
// location, in this order); and an empty block that ends the extra data. No item ID list is
// written: the host has no shell namespace to take one from, and the link information names the
// target on its own.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "os/os.h"

namespace os {
namespace {

enum LinkFlag : uint32_t {
  kHasLinkInfo = 0x02,
  kHasName = 0x04,
  kHasRelativePath = 0x08,
  kHasWorkingDir = 0x10,
  kHasArguments = 0x20,
  kHasIconLocation = 0x40,
  kIsUnicode = 0x80,
};

constexpr uint32_t kHeaderSize = 0x4C;
// {00021401-0000-0000-C000-000000000046} as it lies in memory.
constexpr uint8_t kLinkClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint32_t kLinkInfoHeaderSize = 0x1C;
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x01;
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kVolumeIdSize = 0x11;  // the four fields and an empty label
// A counted string holds at most 65535 units; longer texts are cut there.
constexpr size_t kMaxUnits = 0xFFFF;

void Put16(std::string& out, uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void Put64(std::string& out, uint64_t value) {
  Put32(out, static_cast<uint32_t>(value));
  Put32(out, static_cast<uint32_t>(value >> 32));
}

// The host keeps ANSI text as bytes of the first 256 code points, as its registry does.
void PutCountedString(std::string& out, const std::string& text) {
  const size_t units = std::min(text.size(), kMaxUnits);
  Put16(out, static_cast<uint32_t>(units));
  for (size_t i = 0; i < units; ++i) Put16(out, static_cast<uint8_t>(text[i]));
}

bool SameLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> PathParts(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = path.find('\\', start);
    const std::string part = path.substr(start, end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

bool IsDrivePath(const std::string& path) {
  return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
         path[2] == '\\';
}

// The target as seen from the link's folder (".\name" in the same folder, "..\" for each folder
// up); "" when the two are not on the same drive.
std::string RelativePath(const std::string& linkPath, const std::string& target) {
  if (!IsDrivePath(linkPath) || !IsDrivePath(target) ||
      !SameLetters(linkPath.substr(0, 2), target.substr(0, 2))) {
    return "";
  }
  std::vector<std::string> from = PathParts(linkPath.substr(3));
  const std::vector<std::string> to = PathParts(target.substr(3));
  if (from.empty() || to.empty()) return "";
  from.pop_back();  // the link's own name
  size_t common = 0;
  while (common < from.size() && common + 1 < to.size() && SameLetters(from[common], to[common])) {
    ++common;
  }
  std::string relative = common == from.size() ? ".\\" : "";
  for (size_t i = common; i < from.size(); ++i) relative += "..\\";
  for (size_t i = common; i < to.size(); ++i) relative += to[i] + (i + 1 < to.size() ? "\\" : "");
  return relative;
}

std::string LinkInfo(const std::string& target) {
  const uint32_t volumeOffset = kLinkInfoHeaderSize;
  const uint32_t pathOffset = volumeOffset + kVolumeIdSize;
  const uint32_t suffixOffset = pathOffset + static_cast<uint32_t>(target.size()) + 1;
  std::string info;
  Put32(info, suffixOffset + 1);  // the whole structure, up to the empty path suffix
  Put32(info, kLinkInfoHeaderSize);
  Put32(info, kVolumeIdAndLocalBasePath);
  Put32(info, volumeOffset);
  Put32(info, pathOffset);
  Put32(info, 0);  // no network location
  Put32(info, suffixOffset);
  Put32(info, kVolumeIdSize);
  Put32(info, kDriveFixed);
  Put32(info, 0);     // the host's volumes have no serial number
  Put32(info, 0x10);  // the label follows the four fields
  info.push_back('\0');
  info += target;
  info.push_back('\0');
  info.push_back('\0');  // empty common path suffix
  return info;
}

std::string ShellLinkBytes(const std::string& linkPath, const ShellLinkData& link) {
  FindData found;
  const bool exists = !link.target.empty() && FindFile(link.target, found);
  const std::string relative = RelativePath(linkPath, link.target);
  uint32_t flags = kIsUnicode;
  if (!link.target.empty()) flags |= kHasLinkInfo;
  if (!link.description.empty()) flags |= kHasName;
  if (!relative.empty()) flags |= kHasRelativePath;
  if (!link.workingFolder.empty()) flags |= kHasWorkingDir;
  if (!link.arguments.empty()) flags |= kHasArguments;
  if (!link.iconFile.empty()) flags |= kHasIconLocation;

  std::string out;
  Put32(out, kHeaderSize);
  out.append(reinterpret_cast<const char*>(kLinkClassId), sizeof kLinkClassId);
  Put32(out, flags);
  Put32(out, exists ? found.attributes : 0);
  // The host keeps one time per file: it stands for all three.
  const uint64_t time = exists ? static_cast<uint64_t>(found.writeTime) : 0;
  Put64(out, time);
  Put64(out, time);
  Put64(out, time);
  Put32(out, exists ? static_cast<uint32_t>(found.size) : 0);  // the low 32 bits, as Windows
  Put32(out, static_cast<uint32_t>(link.iconIndex));
  Put32(out, static_cast<uint32_t>(link.showCommand));
  Put16(out, link.hotkey);
  Put16(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  if (flags & kHasLinkInfo) out += LinkInfo(link.target);
  if (flags & kHasName) PutCountedString(out, link.description);
  if (flags & kHasRelativePath) PutCountedString(out, relative);
  if (flags & kHasWorkingDir) PutCountedString(out, link.workingFolder);
  if (flags & kHasArguments) PutCountedString(out, link.arguments);
  if (flags & kHasIconLocation) PutCountedString(out, link.iconFile);
  Put32(out, 0);  // end of the extra data
  return out;
}

}  // namespace

bool SaveShellLink(const std::string& linkPath, const ShellLinkData& link) {
  const std::string bytes = ShellLinkBytes(linkPath, link);
  File file = File::Open(linkPath, File::Mode::kCreate);
  if (!file.IsOpen()) return false;
  if (!file.Write(bytes.data(), bytes.size())) {
    file.Close();
    DeleteFile(linkPath);  // a cut link is no link
    return false;
  }
  file.Close();
  return true;
}

}  // namespace os
