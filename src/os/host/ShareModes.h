// Windows share modes for the host OS layer's open files, honoured between the handles of one
// process and between processes.
//
// Windows refuses to open a file when the access asked for is not shared by a handle already open
// on it, or when a handle already open has an access the new one does not share; deleting and
// renaming need delete access, which none of the layer's files share. The host keeps each open
// handle's access and share bits as shared open-file-description locks (fcntl F_OFD_SETLK) on
// bytes far beyond the end of any real file: such locks belong to one open file description, so
// two opens of the same file conflict within one process as well as across processes, and the
// kernel drops them when the file is closed or its process dies. Besides, a regular file that
// another process holds an flock on counts as in use: it cannot be deleted or renamed.
//
// Used by the host OS layer only; safe on any thread.
#pragma once

#include <string>

namespace os::host {

enum ShareBits : unsigned {
  kShareRead = 1,
  kShareWrite = 2,
  kShareDelete = 4,
};

// Records for the open file fd (which must be open for reading) a handle with the access bits
// `access` that lets others have the access bits `share`. False when a handle open on the same
// file forbids it or would be forbidden by it; the file's other handles are unchanged then, and
// the caller closes fd. Where the file system keeps no such locks, the open is let through.
bool ClaimShareMode(int fd, unsigned access, unsigned share);

// Delete access to a regular file for as long as the object lives, as Windows takes it to delete
// or rename a file; refused while another handle is open on the file or another process holds an
// flock on it. A path that is not a regular file (a link, a folder, a missing name) is granted:
// nothing can hold it open.
class DeleteAccess {
 public:
  explicit DeleteAccess(const std::string& unixPath);
  ~DeleteAccess();
  DeleteAccess(const DeleteAccess&) = delete;
  DeleteAccess& operator=(const DeleteAccess&) = delete;

  bool Granted() const { return granted_; }

 private:
  int fd_ = -1;
  bool granted_ = true;
};

}  // namespace os::host
