#include "support/zrFileFind.h"

#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

bool MatchesFileMask(const std::string& name, const std::string& mask) {
  if (MatchWild(name, mask, true)) return true;
  // Windows lets a name without an extension stand for "name.", which is why "*.*" lists names
  // like "bin" and "README" too.
  return name.find('.') == std::string::npos && MatchWild(name + ".", mask, true);
}

namespace {

bool PassesFilter(uint32_t attributes, uint32_t include, uint32_t exclude) {
  // A plain file may carry none of the six bits (the OS layer reports it as "normal"): only the
  // filter of any attribute lets it in without a bit in common.
  bool included = include == 0 || include == kAnyAttribute || (attributes & include) != 0;
  return included && (attributes & exclude) == 0;
}

}  // namespace

TzrFileFind::TzrFileFind(const std::string& pathMask, uint32_t include, uint32_t exclude)
    : folder_(ExtractFilePath(pathMask)) {
  const std::string mask = ExtractFileName(pathMask);
  std::vector<os::FindData> entries;
  os::ListFolder(folder_.empty() ? std::string(".") : folder_, entries);
  for (const os::FindData& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    if (!MatchesFileMask(entry.name, mask)) continue;
    if (!PassesFilter(entry.attributes, include, exclude)) continue;
    TzrFoundFile found;
    found.Name = entry.name;
    found.Path = folder_ + entry.name;
    found.Size = entry.size;
    found.Attributes = entry.attributes;
    found.WriteTime = entry.writeTime;
    os::FileTimeToLocalTime(entry.writeTime, found.LocalTime);
    found_.push_back(std::move(found));
  }
}

bool TzrFileFind::Next(TzrFoundFile& found) {
  if (next_ >= found_.size()) return false;
  found = found_[next_++];
  return true;
}

void TzrFileFind::Close() {
  found_.clear();
  next_ = 0;
}
