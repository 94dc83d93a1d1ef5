// The state of the one installation run of this process, shared by every subsystem.
//
// The flags are written by whichever thread detects the condition (the worker thread, the main
// window, a plug-in command) and polled by the driver between phases, so they are atomics; the
// texts are set once at start, on the main thread, before any other thread exists.
#pragma once

#include <atomic>
#include <string>

struct TRunState {
  std::string SetupFileName;  // full path of the running setup program
  std::string SetupTempPath;  // the run's temporary folder, with a trailing backslash
  std::atomic<bool> RepairMode{false};
  std::atomic<bool> ResumeMode{false};
  std::atomic<bool> AbortRequested{false};
  std::atomic<bool> InstallSuspended{false};
  std::atomic<bool> SessionEnding{false};
  std::atomic<bool> StopWaiting{false};
  std::atomic<bool> RollbackDisabled{false};
  std::atomic<bool> RebootAtExit{false};
  // Set by the plug-ins' CM_SUSPENDINSTALL, cleared by CM_RESUMEINSTALL: the worker thread that
  // copies files is to hold still meanwhile. The installation run, which owns that thread, acts
  // on it; before it exists nothing does.
  std::atomic<bool> WorkerPaused{false};
};

TRunState& RunState();

// Puts every value back to its start (for tests that drive several runs in one process).
void ResetRunState();
