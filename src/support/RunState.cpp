#include "support/RunState.h"

TRunState& RunState() {
  static TRunState state;
  return state;
}

void ResetRunState() {
  TRunState& state = RunState();
  state.SetupFileName.clear();
  state.SetupTempPath.clear();
  for (std::atomic<bool>* flag :
       {&state.RepairMode, &state.ResumeMode, &state.AbortRequested, &state.InstallSuspended,
        &state.SessionEnding, &state.StopWaiting, &state.RollbackDisabled, &state.RebootAtExit,
        &state.WorkerPaused}) {
    flag->store(false);
  }
}
