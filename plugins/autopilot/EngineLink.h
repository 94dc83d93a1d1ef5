// The autopilot plug-in's side of the commands: the engine entries copied from the start-up
// record, and the buffer protocol of the commands that return texts.
//
// Every answer of the engine is distrusted: no entry (no start-up record yet), a zero answer, a
// size that is negative or absurd, or a copy the engine refuses all give an empty text, never a
// read or write past a buffer. Called on the thread the engine calls the plug-in on.
#pragma once

#include <string>
#include <vector>

#include "kxplugin.h"

namespace autopilot {

class TEngineLink {
 public:
  // Copies what the plug-in keeps; the record lives only during EV_SETSTARTUPINFO.
  void Connect(const KxStartupInfo& info);
  bool Connected() const { return command_ != nullptr; }
  int32_t Number() const { return number_; }
  const std::string& ConfigFile() const { return configFile_; }

  // The command's answer; 0 when there is no command entry.
  kx_ptr Command(int32_t number, kx_ptr first, kx_ptr second) const;

  // CM_GETPCPARAM: the configuration value, or fallback when the engine gives none.
  std::string Param(const std::string& group, const std::string& name,
                    const std::string& fallback = "") const;
  // CM_GETPCGROUPNAMES, CM_GETPCPARAMNAMES.
  std::vector<std::string> GroupNames() const;
  std::vector<std::string> ParamNames(const std::string& group) const;
  // CM_PARSETEXT: %Name% expanded; the text as it is without an engine.
  std::string Expand(const std::string& text) const;

 private:
  enum class BufferAt { kFirst, kSecond };
  std::string Text(int32_t number, kx_ptr argument, BufferAt where) const;

  KxCommandEntry command_ = nullptr;
  int32_t number_ = 0;
  std::string configFile_;
};

// Lines of a CR LF (or LF) separated list, empty lines left out.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace autopilot
