// The diagnostic log an administrator asks for with the switch /log="FILE": a plain-text account
// of one run, line by line as it happens, so that a run that failed (or never ended) can be
// followed afterwards. Each line starts with the local time and the thread ("main" or "work").
// Without the switch nothing is written and every call returns at once. Lines reach the file as
// they are written; any thread may write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace diag {

// Creates (or empties) the log at path and keeps it open; false when it cannot be created, and
// the run goes on without a log.
bool Open(const std::string& path);
bool IsOpen();
// Writes a final line and closes the log.
void Close(const std::string& lastLine);

void Line(const std::string& text);
void Linef(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes the last few failures the OS layer recorded on this thread since the last call (with
// their times and system reasons), where an error may have come from one of them.
void RecentFailures();

// The log's path from a command line: /log="FILE", /log=FILE or /log FILE (also with "-"
// instead of "/", any case); "" when the switch is absent or names no file.
std::string LogPathIn(const std::string& commandLine);
// The parameters of a command line (the program first) without the log switch and its file: the
// switch may stand anywhere, and the positions other switches count on stay as they were.
std::vector<std::string> ParamsWithoutLog(const std::string& commandLine);

// A step of the run: a line when it begins, and one with its result and duration when it ends.
class Phase {
 public:
  explicit Phase(std::string name);
  ~Phase();
  Phase(const Phase&) = delete;
  Phase& operator=(const Phase&) = delete;
  // The result the end line reports; a phase left without one ends "left early".
  bool Ended(bool result);

 private:
  std::string name_;
  uint32_t start_ = 0;
  int result_ = -1;
};

}  // namespace diag
