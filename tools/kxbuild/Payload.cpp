#include "Payload.h"

#include <algorithm>

#include "os/os.h"
#include "support/Errors.h"
#include "support/SafeNames.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

namespace {

bool SameLocalName(const std::string& a, const std::string& b) {
  return os::FileNamesIgnoreCase() ? SameText(a, b) : a == b;
}

// Whether path is folder or lies below it (both final paths).
bool IsWithin(const std::string& path, const std::string& folder) {
  const std::string prefix = WithTrailingBackslash(folder);
  return SameLocalName(path, folder) ||
         (path.size() > prefix.size() && SameLocalName(path.substr(0, prefix.size()), prefix));
}

}  // namespace

TPayloadReader::TPayloadReader(const std::string& folder, bool followLinks)
    : followLinks_(followLinks) {
  const os::PathTarget root = os::ResolvePath(folder);
  if (root.kind == os::PathKind::kFolder) finalRoot_ = root.finalPath;
}

std::vector<TPayloadFile> TPayloadReader::List(const std::string& componentFolder) const {
  std::vector<TPayloadFile> files;
  const os::PathTarget folder = os::ResolvePath(componentFolder);
  if (finalRoot_.empty() || folder.kind != os::PathKind::kFolder) return files;
  CheckLeadsInside(componentFolder, folder.finalPath);
  std::vector<std::string> ancestors{folder.finalPath};
  ListBelow(componentFolder, "", ancestors, files);
  // The listing order of a folder is the file system's.
  std::sort(files.begin(), files.end(), [](const TPayloadFile& a, const TPayloadFile& b) {
    const std::string ua = UpperCaseText(a.Relative), ub = UpperCaseText(b.Relative);
    return ua != ub ? ua < ub : a.Relative < b.Relative;
  });
  return files;
}

void TPayloadReader::ListBelow(const std::string& folder, const std::string& relative,
                               std::vector<std::string>& ancestors,
                               std::vector<TPayloadFile>& files) const {
  std::vector<os::FindData> entries;
  if (!os::ListFolder(folder, entries)) {
    ThrowError("Cannot list folder %s: %s", folder.c_str(), os::LastErrorMessage().c_str());
  }
  // In name order, so that of several faults the same one is reported on every machine.
  std::sort(entries.begin(), entries.end(),
            [](const os::FindData& a, const os::FindData& b) { return a.name < b.name; });
  for (const os::FindData& entry : entries) {
    const std::string path = WithTrailingBackslash(folder) + entry.name;
    if (IsDeviceName(entry.name)) {
      ThrowError("The payload entry %s has a name Windows keeps for a device", path.c_str());
    }
    if (!IsSafeFileName(entry.name)) {
      ThrowError(
          "The payload entry %s has a name Windows cannot keep (a final blank or dot, or one of "
          "<>:\"|?* or a control character)",
          path.c_str());
    }
    const os::PathTarget local = os::ResolvePath(path);
    if (local.kind == os::PathKind::kMissing) {
      ThrowError("The payload entry %s leads nowhere (a broken link?)", path.c_str());
    }
    if (local.kind == os::PathKind::kSpecial) {
      ThrowError("The payload entry %s is no regular file (a pipe, socket or device)",
                 path.c_str());
    }
    CheckLeadsInside(path, local.finalPath);
    if (local.kind == os::PathKind::kFile) {
      files.push_back({relative + entry.name, path});
      continue;
    }
    // Through a link, a folder may hold itself; its listing would never end.
    for (const std::string& ancestor : ancestors) {
      if (IsWithin(ancestor, local.finalPath)) {
        ThrowError("The payload folder %s leads back into a folder that holds it (%s)",
                   path.c_str(), local.finalPath.c_str());
      }
    }
    ancestors.push_back(local.finalPath);
    ListBelow(path, relative + entry.name + "\\", ancestors, files);
    ancestors.pop_back();
  }
}

void TPayloadReader::CheckLeadsInside(const std::string& path, const std::string& finalPath) const {
  if (followLinks_ || IsWithin(finalPath, finalRoot_)) return;
  ThrowError(
      "The payload entry %s leads outside the payload folder, to %s; give --follow-links to "
      "pack what links lead to wherever it is",
      path.c_str(), finalPath.c_str());
}
