#include "os/host/FaultSwitch.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace os::host {
namespace {

struct Settings {
  unsigned long long failAt = 0;  // 0: nothing fails
  // Where the count goes at exit; kept as a plain buffer, since the exit handler runs after the
  // static objects of the program may have been destroyed.
  char countFile[4096] = {};
};

Settings settings;
std::atomic<unsigned long long> changes{0};
std::once_flag loaded;

// Decimal digits only: anything else would make a sweep silently test nothing.
unsigned long long ParseCount(const char* text) {
  if (!text || !*text) return 0;
  unsigned long long value = 0;
  for (const char* c = text; *c; ++c) {
    if (*c < '0' || *c > '9' || value > (~0ULL - 9) / 10) return 0;
    value = value * 10 + static_cast<unsigned>(*c - '0');
  }
  return value;
}

// One write of the whole line, so that processes appending to the same file at once do not mix
// their digits; not through the layer, which would count it.
void AppendCount() {
  if (!settings.countFile[0]) return;
  int fd = open(settings.countFile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string line = std::to_string(changes.load()) + "\n";
  ssize_t written = write(fd, line.data(), line.size());
  (void)written;  // nowhere to report it at exit
  close(fd);
}

void ReadSettings() {
  settings.failAt = ParseCount(std::getenv("KX_HOST_FAIL_AT"));
  const char* file = std::getenv("KX_HOST_COUNT_OPS");
  settings.countFile[0] = 0;
  if (file && std::strlen(file) < sizeof(settings.countFile)) {
    std::strcpy(settings.countFile, file);
  }
}

void Load() {
  std::call_once(loaded, [] {
    ReadSettings();
    std::atexit(AppendCount);
  });
}

// Loaded with the program, so that a process that changes nothing still reports its 0.
const bool kLoadedAtStart = (Load(), true);

}  // namespace

int RefusedChange(Change change) {
  Load();
  const unsigned long long number = changes.fetch_add(1) + 1;
  if (number != settings.failAt) return 0;
  return change == Change::kWrite ? ENOSPC : EACCES;
}

void ResetForTest() {
  Load();
  ReadSettings();
  changes = 0;
}

unsigned long long ChangeCount() { return changes.load(); }

}  // namespace os::host
