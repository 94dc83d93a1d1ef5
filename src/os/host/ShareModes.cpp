// Share modes of the host OS layer; see ShareModes.h.
#include "os/host/ShareModes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace os::host {
namespace {

constexpr unsigned kBits[] = {kShareRead, kShareWrite, kShareDelete};
constexpr int kBitCount = 3;

// One byte per access and one per sharing refused, where no file's data lies. Every build of the
// layer must agree on them, or its processes stop seeing each other's handles.
constexpr off_t kLockBase = INT64_MAX - 15;
off_t AccessByte(int bit) { return kLockBase + bit; }
off_t DenyByte(int bit) { return kLockBase + kBitCount + bit; }

struct flock ByteLock(short type, off_t byte) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = type == F_UNLCK ? 2 * kBitCount : 1;
  return lock;
}

bool SetSharedLock(int fd, off_t byte) {
  struct flock lock = ByteLock(F_RDLCK, byte);
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

void ReleaseLocks(int fd) {
  struct flock lock = ByteLock(F_UNLCK, kLockBase);
  fcntl(fd, F_OFD_SETLK, &lock);
}

// Whether a handle other than fd's own open file description has the byte locked.
bool HeldByOther(int fd, off_t byte) {
  struct flock lock = ByteLock(F_WRLCK, byte);
  return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

bool RecordHandle(int fd, unsigned access, unsigned share) {
  for (int bit = 0; bit < kBitCount; ++bit) {
    if ((access & kBits[bit]) && !SetSharedLock(fd, AccessByte(bit))) return false;
    if (!(share & kBits[bit]) && !SetSharedLock(fd, DenyByte(bit))) return false;
  }
  return true;
}

bool ConflictsWithOthers(int fd, unsigned access, unsigned share) {
  for (int bit = 0; bit < kBitCount; ++bit) {
    if ((access & kBits[bit]) && HeldByOther(fd, DenyByte(bit))) return true;
    if (!(share & kBits[bit]) && HeldByOther(fd, AccessByte(bit))) return true;
  }
  return false;
}

}  // namespace

bool ClaimShareMode(int fd, unsigned access, unsigned share) {
  // Only shared locks are ever taken, so recording cannot conflict; it fails only where the file
  // system or descriptor cannot hold such locks, and then nothing is enforced.
  if (!RecordHandle(fd, access, share)) {
    ReleaseLocks(fd);
    return true;
  }
  // Each handle records itself before it looks at the others, so of two opens racing, at least
  // the later one sees the earlier and gives way.
  if (!ConflictsWithOthers(fd, access, share)) return true;
  ReleaseLocks(fd);
  return false;
}

DeleteAccess::DeleteAccess(const std::string& unixPath) {
  struct stat st;
  if (lstat(unixPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  fd_ = open(unixPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) return;  // unreadable: no handle of the layer can be looked for
  if (!ClaimShareMode(fd_, kShareDelete, kShareRead | kShareWrite | kShareDelete)) {
    granted_ = false;
    return;
  }
  // Kept until the deletion is done, like the claim.
  granted_ = flock(fd_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

DeleteAccess::~DeleteAccess() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace os::host
