#include "plugins/CtrlHandler.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "expressions/Evaluator.h"
#include "expressions/PluginChannel.h"
#include "install/Log.h"
#include "plugins/KXPlugins.h"
#include "plugins/Msg.h"
#include "plugins/PlugImpl.h"
#include "support/RunState.h"
#include "support/zrRegIni.h"

namespace {

std::atomic<const std::vector<std::string>*> offeredLanguages{nullptr};

// One command as the handlers see it.
struct TCommand {
  TPlugin* Plugin;      // the sender when it is a loaded plug-in, else null
  TXMLObject* Context;  // the sender's database
  kx_ptr First;
  kx_ptr Second;
};

std::string Text(kx_ptr parameter) {
  return parameter ? std::string(reinterpret_cast<const char*>(parameter)) : std::string();
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string joined;
  for (size_t index = 0; index < lines.size(); ++index) {
    if (index > 0) joined += "\r\n";
    joined += lines[index];
  }
  return joined;
}

kx_ptr OnAbortInstall(const TCommand&) {
  RunState().AbortRequested = true;
  return 0;
}

kx_ptr OnSuspendInstall(const TCommand&) {
  RunState().WorkerPaused = true;
  return 0;
}

kx_ptr OnResumeInstall(const TCommand&) {
  RunState().WorkerPaused = false;
  return 0;
}

kx_ptr OnParseText(const TCommand& command) {
  return AnswerText(ExpandText(command.Context, Text(command.First)), command.Second);
}

kx_ptr OnGetLanguage(const TCommand& command) {
  const std::vector<std::string>* languages = offeredLanguages.load();
  if (!languages) return 0;
  return AnswerRecord(LanguageRecord(*languages, Text(command.First)), command.Second);
}

kx_ptr OnSetLanguage(const TCommand& command) {
  if (command.First) SetLanguage(Text(command.First));
  return 0;
}

kx_ptr OnGetVariable(const TCommand& command) {
  return AnswerText(GetVariable(command.Context, Text(command.First), ""), command.Second);
}

kx_ptr OnSetVariable(const TCommand& command) {
  // A variable without a name could never be read back; the plug-in passed no name.
  const std::string name = Text(command.First);
  if (!name.empty()) SetVariable(command.Context, name, Text(command.Second));
  return 0;
}

kx_ptr OnGetFeature(const TCommand& command) {
  const TkxFeatures* features = MainDatabase().Features.get();
  if (!features) return 0;
  return AnswerRecord(FeatureRecord(*features, Text(command.First), command.Context),
                      command.Second);
}

kx_ptr OnGetFeatureState(const TCommand& command) {
  const TkxFeatures* features = MainDatabase().Features.get();
  if (!features) return 0;
  TkxFeature* parent = nullptr;
  TkxFeature* next = nullptr;
  const TkxFeature* feature = FindFeature(*features, Text(command.First), parent, next);
  return feature ? FeatureState(*feature) : 0;
}

kx_ptr OnSetFeatureState(const TCommand& command) {
  return SelectFeature(MainDatabase(), Text(command.First), command.Second == 1) ? 0 : -1;
}

kx_ptr OnGetInstallType(const TCommand& command) {
  const TkxInstallTypes* types = MainDatabase().InstallTypes.get();
  if (!types) return 0;
  return AnswerRecord(InstallTypeRecord(*types, Text(command.First), command.Context),
                      command.Second);
}

kx_ptr OnSetInstallType(const TCommand& command) {
  return ApplyInstallType(MainDatabase(), Text(command.First)) ? 0 : -1;
}

// The three texts of CM_GETPCPARAM's query, each pointer word read byte-wise from the record.
struct TParamQuery {
  std::string Group, Parameter, Default;
};
TParamQuery ReadParamQuery(kx_ptr address) {
  KxParamQuery query{};
  std::memcpy(&query, reinterpret_cast<const void*>(address), sizeof(query));
  return {Text(query.group), Text(query.parameter), Text(query.defaultValue)};
}

kx_ptr OnGetPCParam(const TCommand& command) {
  if (!command.Plugin || !command.First) return 0;
  const TParamQuery query = ReadParamQuery(command.First);
  const TPlugin& plugin = *command.Plugin;
  std::string value = query.Default;
  if (!plugin.ConfigFileName.empty()) {
    value = IniReadString(plugin.ConfigFileName, query.Group, query.Parameter, query.Default);
  } else if (plugin.Config) {
    value = plugin.Config->GetParam(query.Group, query.Parameter, query.Default);
  }
  return AnswerText(value, command.Second);
}

kx_ptr OnGetPCGroupNames(const TCommand& command) {
  if (!command.Plugin) return 0;
  const TPlugin& plugin = *command.Plugin;
  std::vector<std::string> names;
  if (!plugin.ConfigFileName.empty()) {
    IniListSections(plugin.ConfigFileName, names);
  } else if (plugin.Config) {
    names = plugin.Config->GetGroupNames();
  }
  return AnswerText(JoinLines(names), command.First);
}

kx_ptr OnGetPCParamNames(const TCommand& command) {
  if (!command.Plugin) return 0;
  const TPlugin& plugin = *command.Plugin;
  const std::string group = Text(command.First);
  std::vector<std::string> names;
  if (!plugin.ConfigFileName.empty()) {
    IniListKeys(plugin.ConfigFileName, group, names);
  } else if (plugin.Config) {
    names = plugin.Config->GetParamNames(group);
  }
  return AnswerText(JoinLines(names), command.Second);
}

kx_ptr OnGetPCCustomConfig(const TCommand& command) {
  if (!command.Plugin) return 0;
  const TXMLTag* tag = command.Plugin->CustomConfig;
  // An entry without custom configuration holds an empty tag: no element, no text.
  const std::string text = tag && !tag->Name.empty() ? tag->GetXML() : std::string();
  return AnswerText(text, command.First);
}

kx_ptr OnCalcExpression(const TCommand& command) {
  const std::string result = Evaluator().CalcExpression(Text(command.First));
  void* block = AllocMem(result.size() + 1);
  if (block) std::memcpy(block, result.c_str(), result.size() + 1);
  return reinterpret_cast<kx_ptr>(block);
}

kx_ptr OnCalcBoolExpression(const TCommand& command) {
  return Evaluator().CalcExpression(Text(command.First)) == "1" ? 1 : 0;
}

kx_ptr OnRegisterFunction(const TCommand& command) {
  if (!command.Plugin) return 0;
  if (command.Second < std::numeric_limits<int32_t>::min() ||
      command.Second > std::numeric_limits<int32_t>::max()) {
    return 0;
  }
  return Evaluator().RegisterFunction(FunctionOwnerOf(*command.Plugin), Text(command.First),
                                      static_cast<int32_t>(command.Second));
}

kx_ptr OnAllocMem(const TCommand& command) {
  if (command.First < 0 || static_cast<size_t>(command.First) > kMaxPluginBlock) return 0;
  return reinterpret_cast<kx_ptr>(AllocMem(static_cast<size_t>(command.First)));
}

kx_ptr OnFreeMem(const TCommand& command) {
  FreeMem(reinterpret_cast<void*>(command.First));
  return 0;
}

kx_ptr OnAddLogRecord(const TCommand& command) {
  AddPluginLogRecord(command.Context, Text(command.First), Text(command.Second));
  return 0;
}

using THandler = kx_ptr (*)(const TCommand&);

struct TCommandEntry {
  int32_t Number;
  THandler Handler;
};

constexpr TCommandEntry kCommands[] = {
    {CM_ABORTINSTALL, OnAbortInstall},
    {CM_SUSPENDINSTALL, OnSuspendInstall},
    {CM_RESUMEINSTALL, OnResumeInstall},
    {CM_PARSETEXT, OnParseText},
    {CM_GETLANGUAGE, OnGetLanguage},
    {CM_SETLANGUAGE, OnSetLanguage},
    {CM_GETVARIABLE, OnGetVariable},
    {CM_SETVARIABLE, OnSetVariable},
    {CM_GETFEATURE, OnGetFeature},
    {CM_GETFEATURESTATE, OnGetFeatureState},
    {CM_SETFEATURESTATE, OnSetFeatureState},
    {CM_GETINSTALLTYPE, OnGetInstallType},
    {CM_SETINSTALLTYPE, OnSetInstallType},
    {CM_GETPCPARAM, OnGetPCParam},
    {CM_GETPCGROUPNAMES, OnGetPCGroupNames},
    {CM_GETPCPARAMNAMES, OnGetPCParamNames},
    {CM_GETPCCUSTOMCONFIG, OnGetPCCustomConfig},
    {CM_CALCEXPRESSION, OnCalcExpression},
    {CM_CALCBOOLEXPRESSION, OnCalcBoolExpression},
    {CM_REGISTERFUNCTION, OnRegisterFunction},
    {CM_ALLOCMEM, OnAllocMem},
    {CM_FREEMEM, OnFreeMem},
    {CM_ADDLOGRECORD, OnAddLogRecord},
};

THandler HandlerOf(int32_t number) {
  for (const TCommandEntry& entry : kCommands) {
    if (entry.Number == number) return entry.Handler;
  }
  return nullptr;
}

}  // namespace

kx_ptr ExecuteCommand(int32_t sender, int32_t number, kx_ptr first, kx_ptr second, bool toAll) {
  TPlugin* plugin = FindPlugin(sender);
  if (THandler handler = HandlerOf(number)) {
    TXMLObject* context =
        plugin && plugin->Package ? static_cast<TXMLObject*>(plugin->Package) : &MainDatabase();
    return handler(TCommand{plugin, context, first, second});
  }
  if (!plugin || MessageName(number).empty()) return 0;
  return BroadcastFrom(sender, number, first, second, toAll);
}

void SetOfferedLanguages(const std::vector<std::string>* languages) {
  offeredLanguages.store(languages);
}
