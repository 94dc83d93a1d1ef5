// The files one build writes, made under temporary names beside their final ones ("<name>
// .kxbuild-new") and put in place together once all of them are whole. A build that fails
// leaves nothing of its own, and one that is killed leaves at most its temporary files (which
// the next build to the same place writes again and takes away); either way the packages of the
// previous build stay as they were, since they are replaced only at the end.
//
// Replacing is done by moving the previous file aside ("<name>.kxbuild-old") before the new one
// takes its name, so that a move that fails can be undone: the platforms do not replace a file
// by a move in one step alike. Used by kxbuild's main thread; failures throw KxError.
#pragma once

#include <string>
#include <utility>
#include <vector>

class TStagedOutputs {
 public:
  TStagedOutputs() = default;
  // Unless committed: removes every temporary file and the folders MakeFolder created.
  ~TStagedOutputs();
  TStagedOutputs(const TStagedOutputs&) = delete;
  TStagedOutputs& operator=(const TStagedOutputs&) = delete;

  // Creates the folder with its missing parents.
  void MakeFolder(const std::string& folder);

  // The path to write the output path under. Refuses a path that is a folder or a read-only file,
  // which the build could not replace.
  std::string Stage(const std::string& path);

  // Where the staged output path is being written; throws when path was not staged.
  std::string StagedPath(const std::string& path) const;

  // Puts every staged file in place, in the order they were staged. When a move fails, the files
  // already put in place are taken back and the previous ones restored before it throws. A
  // previous file that cannot be deleted afterwards is kept under its aside name, with a warning.
  void Commit(std::vector<std::string>& warnings);

 private:
  void Restore(size_t placed, size_t movedAside);

  struct TOutput {
    std::string Path, Temporary, Aside;
    bool HadPrevious = false;
  };
  std::vector<TOutput> outputs_;
  std::vector<std::string> createdFolders_;  // deepest first
  bool committed_ = false;
};
