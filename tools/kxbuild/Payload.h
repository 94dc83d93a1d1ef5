// The payload folder as kxbuild reads it: the files below one component's folder, each with its
// path relative to that folder, in the same order on every machine.
//
// Links are followed, to files and to folders alike, as long as they lead to somewhere inside
// the payload folder; one that leads outside it is refused unless links are to be followed
// anywhere (the vendor then knows what goes into the package). A link to a folder that holds
// it, a link that leads nowhere, a file that is no regular file (a pipe, a socket, a device)
// and a name Windows keeps for a device are refused always: each would hang the build, never
// end, or give an entry the engine cannot install. Refusals throw KxError naming the entry.
// Used by kxbuild's main thread.
#pragma once

#include <string>
#include <vector>

struct TPayloadFile {
  std::string Relative;  // below the component's folder, backslashes, names as on disk
  std::string Path;
};

class TPayloadReader {
 public:
  // folder: the payload folder, which need not exist.
  TPayloadReader(const std::string& folder, bool followLinks);

  // The files below the component folder (a folder of the payload folder), sorted by relative
  // path without regard to case; none when the folder does not exist.
  std::vector<TPayloadFile> List(const std::string& componentFolder) const;

 private:
  void ListBelow(const std::string& folder, const std::string& relative,
                 std::vector<std::string>& ancestors, std::vector<TPayloadFile>& files) const;
  void CheckLeadsInside(const std::string& path, const std::string& finalPath) const;

  std::string finalRoot_;  // the payload folder's final path; "" when it does not exist
  bool followLinks_;
};
