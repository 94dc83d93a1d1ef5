#include "support/DiagnosticLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>

#include "os/os.h"
#include "support/Errors.h"
#include "support/zrStrUtils.h"

namespace diag {
namespace {

struct LogFile {
  std::mutex lock;
  os::File file;
  std::thread::id mainThread;
};

LogFile& Log() {
  static LogFile log;
  return log;
}

// Read without the lock: the log opens before the worker starts and closes after it ended.
bool open = false;
// Set while this thread writes a line: a failure of the log's own writing must not come back.
thread_local bool writing = false;

std::string Stamp() {
  const os::LocalDateTime now = os::LocalTime();
  return Format("%02d:%02d:%02d.%03d", now.hour, now.minute, now.second, now.millisecond);
}

void WriteLine(LogFile& log, const std::string& text) {
  const char* thread = std::this_thread::get_id() == log.mainThread ? "main" : "work";
  std::string line = Stamp() + " " + thread + "  " + text;
  // One record per line, whatever the text carried.
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  line += "\r\n";
  log.file.Write(line.data(), line.size());
}

// The last failures the OS layer recorded on this thread, with their times. Most failures answer
// a question ("is this file there?"), so they are kept, not written, until an error shows that
// one of them may have been its reason. Plain buffers: a thread-local object with a destructor
// is not safe in every runtime the engine is built with, and failures come from every thread.
constexpr int kRecentFailures = 4;
constexpr size_t kFailureText = 480;
thread_local char recentFailures[kRecentFailures][kFailureText];
thread_local int recentCount = 0;  // how many of the slots hold a failure
thread_local int recentNext = 0;   // the slot the next failure takes

void ObserveFailure(const std::string& text) {
  if (writing || !open) return;
  const std::string entry = Stamp() + " " + text;
  std::snprintf(recentFailures[recentNext], kFailureText, "%s", entry.c_str());
  recentNext = (recentNext + 1) % kRecentFailures;
  if (recentCount < kRecentFailures) ++recentCount;
}

}  // namespace

bool Open(const std::string& path) {
  LogFile& log = Log();
  std::lock_guard<std::mutex> guard(log.lock);
  log.file = os::File::Open(path, os::File::Mode::kCreate);
  if (!log.file.IsOpen()) return false;
  log.mainThread = std::this_thread::get_id();
  open = true;
  os::SetFailureObserver(ObserveFailure);
  return true;
}

bool IsOpen() { return open; }

void Close(const std::string& lastLine) {
  if (!open) return;
  os::SetFailureObserver(nullptr);
  LogFile& log = Log();
  std::lock_guard<std::mutex> guard(log.lock);
  writing = true;
  WriteLine(log, lastLine);
  writing = false;
  log.file.Close();
  open = false;
}

void Line(const std::string& text) {
  if (!open) return;
  LogFile& log = Log();
  std::lock_guard<std::mutex> guard(log.lock);
  writing = true;
  WriteLine(log, text);
  writing = false;
}

void Linef(const char* format, ...) {
  if (!open) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatArgs(format, args);
  va_end(args);
  Line(text);
}

void RecentFailures() {
  if (!open) return;
  for (int oldest = recentNext - recentCount; recentCount > 0; ++oldest, --recentCount) {
    Line(std::string("system failure at ") +
         recentFailures[(oldest + kRecentFailures) % kRecentFailures]);
  }
}

std::string LogPathIn(const std::string& commandLine) {
  const std::vector<std::string> params = CommandLineParams(commandLine);
  int index = 0;
  if (SwitchMatchIn(commandLine, "log=*", index)) {
    std::string path = params[index].substr(params[index].find('=') + 1);
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
      path = path.substr(1, path.size() - 2);
    }
    return path;
  }
  if (SwitchMatchIn(commandLine, "log", index) && static_cast<size_t>(index) + 1 < params.size()) {
    const std::string& next = params[index + 1];
    if (!next.empty() && next[0] != '/' && next[0] != '-') return next;
  }
  return "";
}

std::vector<std::string> ParamsWithoutLog(const std::string& commandLine) {
  std::vector<std::string> params = CommandLineParams(commandLine);
  int index = 0;
  if (SwitchMatchIn(commandLine, "log=*", index)) {
    params.erase(params.begin() + index);
  } else if (SwitchMatchIn(commandLine, "log", index)) {
    const bool withFile = !LogPathIn(commandLine).empty();
    params.erase(params.begin() + index, params.begin() + index + (withFile ? 2 : 1));
  }
  return params;
}

Phase::Phase(std::string name) : name_(std::move(name)) {
  if (!open) return;
  start_ = os::TickCount();
  recentCount = 0;  // what failed before the phase is no reason for its failure
  Line("begin " + name_);
}

Phase::~Phase() {
  if (!open) return;
  const char* outcome = result_ < 0 ? "left early" : result_ ? "succeeded" : "failed";
  if (result_ == 0) RecentFailures();
  Linef("end %s: %s (%u ms)", name_.c_str(), outcome, os::TickCount() - start_);
}

bool Phase::Ended(bool result) {
  result_ = result ? 1 : 0;
  return result;
}

}  // namespace diag
