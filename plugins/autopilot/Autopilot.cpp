// autopilot: the plug-in for unattended installs and for the engine's own tests. It answers the
// engine's questions as its configuration says (docs/autopilot.md) and writes every event it
// receives to its trace. The engine calls it on its main thread only; it keeps one state per
// loaded library. No exception leaves the event entry: a failure inside it answers 0.
#include <cstring>
#include <exception>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "EngineLink.h"
#include "Events.h"
#include "LocalPath.h"
#include "Settings.h"
#include "Text.h"
#include "Trace.h"
#include "kxplugin.h"

namespace autopilot {
namespace {

constexpr char kPluginName[] = "autopilot";

class TAutopilot {
 public:
  kx_ptr OnEvent(int32_t number, const char* name, kx_ptr first, kx_ptr second);

 private:
  kx_ptr Handle(int32_t number, const std::string& name, kx_ptr first, kx_ptr second);
  void Start(const KxStartupInfo* info);
  void RegisterFunctions();
  void SetVariables();
  void ApplySelection();
  kx_ptr ShowDialogs(kx_ptr stage);
  kx_ptr QueryReboot();
  kx_ptr SkipList(kx_ptr first) const;
  kx_ptr SkipItem(kx_ptr first, kx_ptr second) const;
  kx_ptr NextPackageFolder(kx_ptr buffer) const;
  kx_ptr CalcFunction(kx_ptr block);
  void CountForAbort(int32_t number, const std::string& name);
  // A command that changes the run, listed in the trace line of the event that sent it.
  kx_ptr Act(int32_t command, const char* commandName, const std::string& first,
             const std::string& second = std::string(), kx_ptr secondNumber = 0);
  void WriteLine(int64_t sequence, int32_t number, const std::string& name,
                 const TEventParameters& parameters, kx_ptr answer);

  TEngineLink engine_;
  TSettings settings_;
  TTraceFile trace_;
  std::thread::id mainThread_;
  int64_t sequence_ = 0;
  int abortSeen_ = 0;
  std::vector<std::pair<kx_ptr, TFunction>> functions_;  // by the IDs the engine gave
  std::vector<std::string> commands_;                    // of the innermost event being handled
};

kx_ptr TAutopilot::OnEvent(int32_t number, const char* name, kx_ptr first, kx_ptr second) {
  const std::string eventName = name && *name ? name : EventName(number);
  if (number == EV_SETSTARTUPINFO) Start(reinterpret_cast<const KxStartupInfo*>(first));
  // Records and texts live during this call only: decoded before anything is done with them.
  const TEventParameters parameters = DecodeParameters(number, eventName, first, second);
  // Numbered in the order received; the line follows the answer, so an event caused by one of
  // our commands is written before the event that caused it.
  const int64_t sequence = ++sequence_;
  // A command sent here may bring an event of its own before it returns (the engine tells of a
  // changed install type at once): that event's commands are its own, and ours are kept.
  std::vector<std::string> outer = std::move(commands_);
  commands_.clear();
  const kx_ptr answer = Handle(number, eventName, first, second);
  CountForAbort(number, eventName);
  WriteLine(sequence, number, eventName, parameters, answer);
  commands_ = std::move(outer);
  if (number == EV_UNLOAD) trace_.Close();
  return answer;
}

// A load sequence begins: nothing of an earlier one counts (the library may have stayed mapped).
void TAutopilot::Start(const KxStartupInfo* info) {
  trace_.Close();
  sequence_ = 0;
  abortSeen_ = 0;
  functions_.clear();
  mainThread_ = std::this_thread::get_id();
  engine_ = TEngineLink();
  if (info) engine_.Connect(*info);
  settings_ = ReadSettings(engine_);
  if (settings_.TraceFile.empty()) return;
  if (!trace_.Open(LocalPath(settings_.TraceFile), settings_.TraceAppend)) {
    settings_.Problems.push_back("[Trace] File=" + settings_.TraceFile + ": cannot be opened");
  }
}

kx_ptr TAutopilot::Handle(int32_t number, const std::string& name, kx_ptr first, kx_ptr second) {
  switch (number) {
    case EV_LOAD:
      RegisterFunctions();
      return 0;
    case EV_START:
      SetVariables();
      return 0;
    case EV_SHOWDIALOGS:
      return ShowDialogs(first);
    case EV_BEFOREPROCESSITEMS:
      return SkipList(first);
    case EV_BEFOREPROCESSITEM:
      return SkipItem(first, second);
    case EV_VERSIONCONFLICT:
      return settings_.VersionConflict;
    case EV_GETPACKAGE:
      return NextPackageFolder(second);
    case EV_CALCFUNCTION:
      return CalcFunction(first);
    case EV_QUERYREBOOT:
      return QueryReboot();
    case EV_CHECKLAUNCHCONDITIONS:
      return settings_.RefuseLaunch ? 1 : 0;
    default:
      return 0;
  }
}

void TAutopilot::RegisterFunctions() {
  for (const TFunction& function : settings_.Functions) {
    const kx_ptr id = Act(CM_REGISTERFUNCTION, "CM_REGISTERFUNCTION", function.Name, "", -1);
    if (id != 0) functions_.emplace_back(id, function);
  }
}

void TAutopilot::SetVariables() {
  for (const auto& [name, value] : settings_.Variables) {
    Act(CM_SETVARIABLE, "CM_SETVARIABLE", name, value);
  }
}

// As a user would in the dialogs: the install type first (it sets the feature states), then the
// single features.
void TAutopilot::ApplySelection() {
  if (!settings_.InstallType.empty()) {
    Act(CM_SETINSTALLTYPE, "CM_SETINSTALLTYPE", settings_.InstallType);
  }
  for (const std::string& feature : settings_.SelectFeatures) {
    Act(CM_SETFEATURESTATE, "CM_SETFEATURESTATE", feature, "", 1);
  }
  for (const std::string& feature : settings_.DeselectFeatures) {
    Act(CM_SETFEATURESTATE, "CM_SETFEATURESTATE", feature, "", 0);
  }
}

kx_ptr TAutopilot::ShowDialogs(kx_ptr stage) {
  if (stage == 0) {
    ApplySelection();
    return settings_.CancelBefore ? 1 : 0;
  }
  return settings_.CancelAfter ? 1 : 0;
}

// The engine reads the variable Reboot after this event; the answer only stops the question
// from going on to other plug-ins.
kx_ptr TAutopilot::QueryReboot() {
  if (settings_.Reboot == TRebootAnswer::kKeep) return 0;
  Act(CM_SETVARIABLE, "CM_SETVARIABLE", "Reboot",
      settings_.Reboot == TRebootAnswer::kYes ? "1" : "0");
  return 1;
}

int ListCodeOf(kx_ptr first) {
  return static_cast<int>((static_cast<uint64_t>(first) >> 16) & 0xFFFF);
}

kx_ptr TAutopilot::SkipList(kx_ptr first) const {
  const int code = ListCodeOf(first);
  return code < kListCount && settings_.SkipList[code] ? 1 : 0;
}

// The text of an item that the patterns of its list are matched against.
std::string ItemText(int code, kx_ptr record) {
  auto text = [](kx_ptr p) { return p ? std::string(reinterpret_cast<const char*>(p)) : ""; };
  if (!record) return "";
  switch (code) {
    case KX_LIST_FILES:
      return text(reinterpret_cast<const KxFileRecord*>(record)->path);
    case KX_LIST_REGISTRY: {
      const auto* r = reinterpret_cast<const KxRegistryRecord*>(record);
      return text(r->key) + "\\" + text(r->name);
    }
    case KX_LIST_INI:
      return text(reinterpret_cast<const KxIniRecord*>(record)->file);
    case KX_LIST_SHORTCUTS:
      return text(reinterpret_cast<const KxShortcutRecord*>(record)->name);
    case KX_LIST_SERVERS:
    case KX_LIST_FONTS:
      return text(reinterpret_cast<const KxPathRecord*>(record)->path);
    case KX_LIST_PROGRAMS:
      return text(reinterpret_cast<const KxProgramRecord*>(record)->cmdLine);
    default:
      return "";
  }
}

kx_ptr TAutopilot::SkipItem(kx_ptr first, kx_ptr second) const {
  const int code = ListCodeOf(first);
  if (code >= kListCount || !second) return 0;
  const std::string item = ItemText(code, second);
  for (const std::string& pattern : settings_.SkipPatterns[code]) {
    if (MatchWild(item, pattern)) return 1;
  }
  return 0;
}

std::string WithBackslash(const std::string& folder) {
  return folder.empty() || folder.back() == '\\' ? folder : folder + "\\";
}

// The folder after the one the engine looked in last, so that a list of disks is offered in turn
// and the search ends after the last one (the engine asks again as long as someone answers).
kx_ptr TAutopilot::NextPackageFolder(kx_ptr buffer) const {
  char* folder = reinterpret_cast<char*>(buffer);
  if (!folder || settings_.PackageFolders.empty()) return 0;
  const std::string current = WithBackslash(std::string(folder, strnlen(folder, KX_NAME_SIZE - 1)));
  size_t next = 0;
  for (size_t i = 0; i < settings_.PackageFolders.size(); ++i) {
    if (SameText(WithBackslash(settings_.PackageFolders[i]), current)) next = i + 1;
  }
  if (next >= settings_.PackageFolders.size()) return 0;
  const std::string& answer = settings_.PackageFolders[next];
  if (answer.size() >= KX_NAME_SIZE - 1) return 0;  // does not fit the engine's buffer
  std::memcpy(folder, answer.c_str(), answer.size() + 1);
  return 1;
}

kx_ptr TAutopilot::CalcFunction(kx_ptr block) {
  const auto* call = reinterpret_cast<const KxCalcFunctionBlock*>(block);
  if (!call) return 0;
  const char* name = reinterpret_cast<const char*>(call->name);
  for (const auto& [id, function] : functions_) {
    if (id != call->id && !(name && SameText(name, function.Name))) continue;
    std::string result = function.Result;
    if (result.empty()) {
      std::vector<std::string> args;
      const char* arg = reinterpret_cast<const char*>(call->args);
      for (; arg && *arg; arg += std::strlen(arg) + 1) args.push_back(arg);
      for (size_t i = 0; i < args.size(); ++i) result += (i ? "," : "") + args[i];
    }
    // The engine frees the answer: it must come from the engine's allocator.
    char* text = reinterpret_cast<char*>(
        engine_.Command(CM_ALLOCMEM, static_cast<kx_ptr>(result.size() + 1), 0));
    if (!text) return 0;
    std::memcpy(text, result.c_str(), result.size() + 1);
    return reinterpret_cast<kx_ptr>(text);
  }
  return 0;
}

void TAutopilot::CountForAbort(int32_t number, const std::string& name) {
  const std::string& wanted = settings_.AbortEvent;
  if (wanted.empty()) return;
  const int32_t wantedNumber = EventNumber(wanted);
  if (!SameText(name, wanted) && !(wantedNumber != 0 && wantedNumber == number)) return;
  if (++abortSeen_ == settings_.AbortCount) Act(CM_ABORTINSTALL, "CM_ABORTINSTALL", std::string());
}

kx_ptr TAutopilot::Act(int32_t command, const char* commandName, const std::string& first,
                       const std::string& second, kx_ptr secondNumber) {
  const bool secondIsText = command == CM_SETVARIABLE;
  const kx_ptr secondValue = secondIsText ? reinterpret_cast<kx_ptr>(second.c_str()) : secondNumber;
  const kx_ptr firstValue = first.empty() ? 0 : reinterpret_cast<kx_ptr>(first.c_str());
  const kx_ptr answer = engine_.Command(command, firstValue, secondValue);
  TJsonObject line;
  line.Text("command", commandName);
  if (!first.empty()) line.Text("first", first);
  if (secondIsText) {
    line.Text("second", second);
  } else if (secondNumber != 0) {
    line.Number("second", secondNumber);
  }
  commands_.push_back(line.Number("answer", answer).Done());
  return answer;
}

void TAutopilot::WriteLine(int64_t sequence, int32_t number, const std::string& name,
                           const TEventParameters& parameters, kx_ptr answer) {
  if (!trace_.IsOpen()) return;
  TJsonObject line;
  line.Number("seq", sequence).Text("event", name).Number("number", number);
  line.Text("thread", std::this_thread::get_id() == mainThread_ ? "main" : "other");
  line.Raw("first", parameters.First).Raw("second", parameters.Second);
  line.Number("answer", answer);
  if (!commands_.empty()) line.Raw("commands", JsonArray(commands_));
  if (number == EV_SETSTARTUPINFO && !settings_.Problems.empty()) {
    std::vector<std::string> problems;
    for (const std::string& problem : settings_.Problems) problems.push_back(JsonString(problem));
    line.Raw("problems", JsonArray(problems));
  }
  trace_.Write(line.Done());
}

TAutopilot& Instance() {
  static TAutopilot instance;
  return instance;
}

kx_ptr KXAPI EventEntry(int32_t number, const char* name, kx_ptr first, kx_ptr second) {
  try {
    return Instance().OnEvent(number, name, first, second);
  } catch (...) {
    return 0;
  }
}

}  // namespace
}  // namespace autopilot

extern "C" KX_EXPORT void KXAPI GetPluginInfo(KxPluginInfo* info) {
  if (!info) return;
  info->pluginVersion = 0x10000;
  info->engineVersion = KX_ENGINE_VERSION;
  std::strncpy(info->name, autopilot::kPluginName, sizeof info->name - 1);
  std::strncpy(info->description, "Answers the engine as configured and traces every event",
               sizeof info->description - 1);
  info->eventEntry = reinterpret_cast<kx_ptr>(&autopilot::EventEntry);
}
