#include "Settings.h"

#include <cstdlib>

#include "Text.h"

namespace autopilot {
namespace {

// A relative trace path is taken beside the configuration file, where the plug-in's own files
// are; without one it stays relative (to the engine's current folder).
std::string BesideConfigFile(const std::string& path, const std::string& configFile) {
  const bool absolute =
      (path.size() >= 2 && path[1] == ':') || path.rfind('\\', 0) == 0 || path.rfind('/', 0) == 0;
  const size_t slash = configFile.find_last_of("\\/");
  if (absolute || path.empty() || slash == std::string::npos) return path;
  return configFile.substr(0, slash + 1) + path;
}

class TReader {
 public:
  TReader(const TEngineLink& engine, TSettings& settings) : engine_(engine), out_(settings) {}

  std::string Get(const char* group, const char* name) { return Trim(engine_.Param(group, name)); }

  // "proceed" or "cancel".
  bool Cancel(const char* group, const char* name) {
    const std::string value = Get(group, name);
    if (value.empty() || SameText(value, "proceed")) return false;
    if (SameText(value, "cancel")) return true;
    Problem(group, name, value, "proceed or cancel");
    return false;
  }

  bool Switch(const char* group, const char* name) {
    const std::string value = Get(group, name);
    for (const char* yes : {"1", "yes", "true", "on"}) {
      if (SameText(value, yes)) return true;
    }
    for (const char* no : {"", "0", "no", "false", "off"}) {
      if (SameText(value, no)) return false;
    }
    Problem(group, name, value, "yes or no");
    return false;
  }

  // A whole number from low to high; fallback when empty or out of range.
  int Number(const char* group, const char* name, int low, int high, int fallback) {
    const std::string value = Get(group, name);
    if (value.empty()) return fallback;
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (*end != '\0' || value.size() > 9 || number < low || number > high) {
      Problem(group, name, value,
              "a number from " + std::to_string(low) + " to " + std::to_string(high));
      return fallback;
    }
    return static_cast<int>(number);
  }

  void Problem(const char* group, const char* name, const std::string& value,
               const std::string& wanted) {
    out_.Problems.push_back("[" + std::string(group) + "] " + name + "=" + value + ": wanted " +
                            wanted);
  }

 private:
  const TEngineLink& engine_;
  TSettings& out_;
};

void ReadTrace(const TEngineLink& engine, TReader& reader, TSettings& out) {
  const std::string file = reader.Get("Trace", "File");
  out.TraceFile = BesideConfigFile(Trim(engine.Expand(file)), engine.ConfigFile());
  out.TraceAppend = reader.Switch("Trace", "Append");
}

void ReadAnswers(const TEngineLink& engine, TReader& reader, TSettings& out) {
  out.CancelBefore = reader.Cancel("Dialogs", "Before");
  out.CancelAfter = reader.Cancel("Dialogs", "After");
  out.VersionConflict = reader.Number("Answers", "VersionConflict", 0, 4, 0);
  const std::string reboot = reader.Get("Answers", "Reboot");
  if (SameText(reboot, "yes")) {
    out.Reboot = TRebootAnswer::kYes;
  } else if (SameText(reboot, "no")) {
    out.Reboot = TRebootAnswer::kNo;
  } else if (!reboot.empty() && !SameText(reboot, "keep")) {
    reader.Problem("Answers", "Reboot", reboot, "keep, yes or no");
  }
  const std::string launch = reader.Get("Answers", "LaunchConditions");
  out.RefuseLaunch = SameText(launch, "refuse");
  if (!launch.empty() && !out.RefuseLaunch && !SameText(launch, "pass")) {
    reader.Problem("Answers", "LaunchConditions", launch, "pass or refuse");
  }
  for (const std::string& folder : SplitList(reader.Get("Answers", "PackageFolders"), '|')) {
    out.PackageFolders.push_back(engine.Expand(folder));
  }
}

void ReadSelection(const TEngineLink& engine, TReader& reader, TSettings& out) {
  for (const std::string& name : engine.ParamNames("Variables")) {
    out.Variables.emplace_back(name, engine.Param("Variables", name));
  }
  out.InstallType = reader.Get("Selection", "InstallType");
  out.SelectFeatures = SplitList(reader.Get("Selection", "Select"), ',');
  out.DeselectFeatures = SplitList(reader.Get("Selection", "Deselect"), ',');
}

void ReadSkips(TReader& reader, TSettings& out) {
  for (const std::string& list : SplitList(reader.Get("Skip", "Lists"), ',')) {
    const int code = ListCode(list);
    if (code < 0) {
      reader.Problem("Skip", "Lists", list,
                     "files, registry, ini, shortcuts, servers, fonts or programs");
      continue;
    }
    out.SkipList[code] = true;
  }
  for (int code = 0; code < kListCount; ++code) {
    // The group's names are the lists' names with a capital: Files, Registry, ...
    std::string name = ListName(code);
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
    out.SkipPatterns[code] = SplitList(reader.Get("Skip", name.c_str()), '|');
  }
}

void ReadFunctionsAndAbort(const TEngineLink& engine, TReader& reader, TSettings& out) {
  for (const std::string& name : engine.ParamNames("Functions")) {
    out.Functions.push_back({name, engine.Param("Functions", name)});
  }
  out.AbortEvent = reader.Get("Abort", "Event");
  out.AbortCount = reader.Number("Abort", "Count", 1, 1000000000, 1);
}

}  // namespace

TSettings ReadSettings(const TEngineLink& engine) {
  TSettings settings;
  TReader reader(engine, settings);
  ReadTrace(engine, reader, settings);
  ReadAnswers(engine, reader, settings);
  ReadSelection(engine, reader, settings);
  ReadSkips(reader, settings);
  ReadFunctionsAndAbort(engine, reader, settings);
  return settings;
}

}  // namespace autopilot
