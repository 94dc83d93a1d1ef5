#include "StagedOutputs.h"

#include "os/os.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"

namespace {

constexpr char kTemporarySuffix[] = ".kxbuild-new";
constexpr char kAsideSuffix[] = ".kxbuild-old";

bool Exists(const std::string& path) {
  return os::GetFileAttributes(path) != os::kInvalidAttributes;
}

}  // namespace

TStagedOutputs::~TStagedOutputs() {
  if (committed_) return;
  for (const TOutput& output : outputs_) os::DeleteFile(output.Temporary);
  for (const std::string& folder : createdFolders_) os::RemoveDir(folder);
}

void TStagedOutputs::MakeFolder(const std::string& folder) {
  std::vector<std::string> missing;
  for (std::string path = WithoutTrailingBackslash(folder); !path.empty() && !FolderExists(path);
       path = WithoutTrailingBackslash(ExtractFilePath(path))) {
    if (!missing.empty() && missing.back() == path) break;  // a root that does not exist
    missing.push_back(path);
  }
  if (!ForceFolders(folder)) {
    ThrowError("Cannot create the output folder %s: %s", folder.c_str(),
               os::LastErrorMessage().c_str());
  }
  createdFolders_.insert(createdFolders_.end(), missing.begin(), missing.end());
}

std::string TStagedOutputs::Stage(const std::string& path) {
  const uint32_t attributes = os::GetFileAttributes(path);
  if (attributes != os::kInvalidAttributes && (attributes & os::kAttrDirectory)) {
    ThrowError("The output %s is a folder", path.c_str());
  }
  if (attributes != os::kInvalidAttributes && (attributes & os::kAttrReadOnly)) {
    ThrowError("Cannot replace the output %s: it is read-only", path.c_str());
  }
  outputs_.push_back({path, path + kTemporarySuffix, path + kAsideSuffix});
  return outputs_.back().Temporary;
}

std::string TStagedOutputs::StagedPath(const std::string& path) const {
  for (const TOutput& output : outputs_) {
    if (output.Path == path) return output.Temporary;
  }
  ThrowError("The output %s was not written", path.c_str());
}

void TStagedOutputs::Commit(std::vector<std::string>& warnings) {
  size_t movedAside = 0;
  for (; movedAside < outputs_.size(); ++movedAside) {
    TOutput& output = outputs_[movedAside];
    output.HadPrevious = Exists(output.Path);
    if (!output.HadPrevious) continue;
    // Left by a build killed while it put its files in place; its files are replaced now.
    if (Exists(output.Aside)) os::DeleteFile(output.Aside);
    if (!os::MoveFile(output.Path, output.Aside)) {
      const std::string why = os::LastErrorMessage();
      Restore(0, movedAside);
      ThrowError("Cannot replace %s: %s", output.Path.c_str(), why.c_str());
    }
  }
  for (size_t placed = 0; placed < outputs_.size(); ++placed) {
    const TOutput& output = outputs_[placed];
    if (!os::MoveFile(output.Temporary, output.Path)) {
      const std::string why = os::LastErrorMessage();
      Restore(placed, outputs_.size());
      ThrowError("Cannot write %s: %s", output.Path.c_str(), why.c_str());
    }
  }
  committed_ = true;
  for (const TOutput& output : outputs_) {
    if (output.HadPrevious && !os::DeleteFile(output.Aside)) {
      warnings.push_back(Format("the previous %s is left as %s: %s", output.Path.c_str(),
                                output.Aside.c_str(), os::LastErrorMessage().c_str()));
    }
  }
}

// Takes back the first `placed` new files and brings back the first `movedAside` previous ones.
void TStagedOutputs::Restore(size_t placed, size_t movedAside) {
  for (size_t i = 0; i < placed; ++i) os::MoveFile(outputs_[i].Path, outputs_[i].Temporary);
  for (size_t i = 0; i < movedAside; ++i) {
    if (outputs_[i].HadPrevious) os::MoveFile(outputs_[i].Aside, outputs_[i].Path);
  }
}
