// KXPlugins: the plug-in libraries of the run. Loading a package's plug-ins finds each entry's
// library (its DebugDll, or the first accepted "*.dll" of the package's folder "plugins\<i>\"),
// checks what the library says about itself, gives it its start-up record and takes it into the
// list, in which it receives every broadcast until it is unloaded at the end of the run.
//
// The load sequence of one plug-in: GetPluginInfo with a zero-filled information record, the
// checks (engine version, refusal byte, an entry of the package with the plug-in's name, an
// event entry), the entry's Condition, then EV_SETSTARTUPINFO, EV_LOAD (a non-zero answer
// refuses) and EV_LANGUAGECHANGED, each to that plug-in alone.
//
// Main thread only: loading, unloading and the list. The list is not locked; commands that
// plug-ins send from threads of their own only look plug-ins up in it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kxplugin.h"
#include "os/os.h"

class TkxPackage;
class TkxPluginSimpleConfig;
class TXMLTag;

// One loaded plug-in.
struct TPlugin {
  ~TPlugin();
  KxGetPluginInfoEntry InfoEntry = nullptr;
  std::string FileName;  // full path of the library
  os::Library Handle;
  KxPluginInfo Info{};                            // as GetPluginInfo filled it
  std::string ConfigFileName;                     // absolute, or "" without a configuration file
  const TkxPluginSimpleConfig* Config = nullptr;  // of the plug-in's entry, not owned
  const TXMLTag* CustomConfig = nullptr;          // of the plug-in's entry, not owned
  // The plug-in's identity in events and commands: the count of loaded plug-ins + 1 when it was
  // loaded (the engine is 0).
  int32_t Number = 0;
  TkxPackage* Package = nullptr;  // the package it was loaded for, not owned
  // Never given twice in a process: the owner of the plug-in's functions in the evaluator, which
  // keeps them after the plug-in is gone (a plug-in refused by EV_LOAD may have registered one).
  // A later plug-in could take over an address, never this number.
  uintptr_t Identity = 0;
};

// The loaded plug-ins in load order; owns them.
class TPluginList {
 public:
  TPluginList() = default;
  TPluginList(const TPluginList&) = delete;
  TPluginList& operator=(const TPluginList&) = delete;
  // Frees the remaining plug-ins without events and without releasing their libraries: whatever
  // of their code is still referenced at that point stays callable.
  ~TPluginList();

  int Count() const { return static_cast<int>(items_.size()); }
  // Null for an index out of range.
  TPlugin* PluginAt(int index) const;
  // The loaded plug-in with that Number, or null.
  TPlugin* FindPlugin(int32_t number) const;
  TPlugin* FindByIdentity(uintptr_t identity) const;
  int IndexOf(const TPlugin* plugin) const;  // -1 when not in the list

  void Add(std::unique_ptr<TPlugin> plugin);
  // Takes the plug-in at index out of the list; null for an index out of range.
  std::unique_ptr<TPlugin> Take(int index);

 private:
  std::vector<std::unique_ptr<TPlugin>> items_;
};

// The run's one list, made on first use.
TPluginList& Plugins();
TPlugin* FindPlugin(int32_t number);

// Loads the plug-ins of every entry of the package's Plugins, in order. False after the error box
// "Plug-in loading error" for the first entry whose library could not be loaded; later entries
// are not tried. A plug-in skipped by its Condition or refused by EV_LOAD is no failure.
bool LoadPlugins(TkxPackage& package);
// Tries one library for package: false when it cannot be loaded, lacks GetPluginInfo, needs a
// newer engine, refuses itself, names no entry of the package or has no event entry (nothing
// stays loaded then). True when it was taken into the list, and also when its entry's Condition
// does not hold or it refused EV_LOAD (it is then not in the list). Errors of the Condition's
// evaluation pass to the caller.
bool LoadPlugin(TkxPackage& package, const std::string& libraryPath);
// Sends EV_UNLOAD to the plug-in at index alone, releases its library and removes it.
void UnloadPlugin(int index);
// UnloadPlugin for every plug-in, the last loaded first.
void UnloadPlugins();
// After a fault: lets go of every plug-in library, the last loaded first, without events and
// without taking the plug-ins out of the list (nothing is called on them again), so that their
// files can be deleted (Windows keeps a loaded library's file).
void ReleaseLibrariesAfterCrash();
