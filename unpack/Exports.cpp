// The three exports of the unpack library ("Open", "Enumerate", "Close"), shared by both
// backends. They keep the opened archive and hand each enumeration to the backend.
#include <atomic>
#include <string>

#include "Backend.h"
#include "kxunpack.h"

namespace {

struct OpenedArchive {
  bool isOpen = false;
  kxunpack::Archive archive;
};

OpenedArchive& Opened() {
  static OpenedArchive opened;
  return opened;
}

// Set while an enumeration runs, so that a callback calling back into the library is refused
// instead of pulling the archive from under the running backend.
std::atomic<bool> enumerating{false};

class EnumerationGuard {
 public:
  EnumerationGuard() : acquired_(!enumerating.exchange(true)) {}
  ~EnumerationGuard() {
    if (acquired_) enumerating.store(false);
  }
  EnumerationGuard(const EnumerationGuard&) = delete;
  EnumerationGuard& operator=(const EnumerationGuard&) = delete;
  bool Acquired() const { return acquired_; }

 private:
  bool acquired_;
};

}  // namespace

// No exception may leave these functions: the caller is C code or another compiler's frames.
extern "C" {

KXUNPACK_EXPORT int32_t KXUNPACK_CALL Open(const char* packagePath) {
  if (enumerating.load() || !packagePath || !*packagePath) return 0;
  try {
    OpenedArchive& opened = Opened();
    opened.archive.path = packagePath;
    opened.isOpen = true;
    return 1;
  } catch (...) {
    Opened().isOpen = false;
    return 0;
  }
}

KXUNPACK_EXPORT int32_t KXUNPACK_CALL Enumerate(KxUnpackNotify notify, KxUnpackBlock block) {
  EnumerationGuard guard;
  if (!guard.Acquired() || !notify || !Opened().isOpen) return 0;
  try {
    return kxunpack::RunExtraction(Opened().archive, notify, block) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KXUNPACK_EXPORT void KXUNPACK_CALL Close(void) {
  if (enumerating.load()) return;
  OpenedArchive& opened = Opened();
  opened.isOpen = false;
  opened.archive.path.clear();
  opened.archive.path.shrink_to_fit();
}

}  // extern "C"
