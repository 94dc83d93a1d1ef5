// The three exports of the unpack library ("Open", "Enumerate", "Close"), shared by both
// backends. They keep the opened archive's path and hand each enumeration to the backend.
// Nothing here needs the C++ runtime (no allocation, no exceptions, no guarded statics).
#include <atomic>
#include <cstring>

#include "Backend.h"
#include "kxunpack.h"

namespace {

// The engine's paths are far shorter; a longer one is refused rather than cut.
char openedPath[KXUNPACK_PATH_SIZE];
bool isOpen = false;

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

extern "C" {

KXUNPACK_EXPORT int32_t KXUNPACK_CALL Open(const char* packagePath) {
  if (enumerating.load() || !packagePath || !*packagePath) return 0;
  const size_t length = std::strlen(packagePath);
  isOpen = length < sizeof(openedPath);
  if (!isOpen) return 0;
  std::memcpy(openedPath, packagePath, length + 1);
  return 1;
}

KXUNPACK_EXPORT int32_t KXUNPACK_CALL Enumerate(KxUnpackNotify notify, KxUnpackBlock block) {
  EnumerationGuard guard;
  if (!guard.Acquired() || !notify || !isOpen) return 0;
  return kxunpack::RunExtraction(kxunpack::Archive{openedPath}, notify, block) ? 1 : 0;
}

KXUNPACK_EXPORT void KXUNPACK_CALL Close(void) {
  if (enumerating.load()) return;
  isOpen = false;
  openedPath[0] = 0;
}

}  // extern "C"
