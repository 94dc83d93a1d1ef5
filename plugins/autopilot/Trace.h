// The autopilot plug-in's trace: one JSON object per line (docs/autopilot.md shows the members),
// each line flushed as it is written, so that a crash of the process loses no line written before
// it. Main thread (the engine calls plug-ins on its main thread only).
#pragma once

#include <cstdio>
#include <string>

#include "kxplugin.h"

namespace autopilot {

class TTraceFile {
 public:
  TTraceFile() = default;
  TTraceFile(const TTraceFile&) = delete;
  TTraceFile& operator=(const TTraceFile&) = delete;
  ~TTraceFile() { Close(); }

  // Opens localPath (created, or emptied unless append); false when it cannot be opened.
  bool Open(const std::string& localPath, bool append);
  bool IsOpen() const { return file_ != nullptr; }
  // Writes line and a line feed; nothing when not open.
  void Write(const std::string& line);
  void Close();

 private:
  std::FILE* file_ = nullptr;
};

// The first and second parameters of an event as JSON values: numbers, texts, and the records of
// sdk/kxplugin.h as objects (a null record pointer as null). Which parameter is what follows the
// event number; named messages are known by name.
struct TEventParameters {
  std::string First;
  std::string Second;
};
TEventParameters DecodeParameters(int32_t number, const std::string& name, kx_ptr first,
                                  kx_ptr second);

}  // namespace autopilot
