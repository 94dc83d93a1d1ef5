#include "plugins/KXPlugins.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "expressions/PluginChannel.h"
#include "plugins/PlugImpl.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

namespace {

std::atomic<uintptr_t> lastIdentity{0};

// Where libraries go that must stay loaded although their owners are gone. Never freed.
std::vector<os::Library>& KeptLibraries() {
  static auto* kept = new std::vector<os::Library>;
  return *kept;
}

// "C:\..." or "\\server\...": a configuration path that needs no folder in front (a run resumed
// from its saved database meets the path it made absolute before).
bool IsAbsolutePath(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || (path.size() >= 2 && path[0] == '\\');
}

// The plug-in's name as its record holds it, never read past the field.
std::string PluginName(const KxPluginInfo& info) {
  const char* end = std::find(info.name, info.name + sizeof(info.name), '\0');
  return std::string(info.name, end);
}

// The package's entry that accepts the library with that information record; null when the
// library needs a newer engine, refuses itself, has no event entry or names no entry.
TkxPlugin* AcceptingEntry(const TkxPackage& package, const KxPluginInfo& info) {
  if (info.engineVersion > KX_ENGINE_VERSION || info.refused != 0 || info.eventEntry == 0) {
    return nullptr;
  }
  if (!package.Plugins) return nullptr;
  return dynamic_cast<TkxPlugin*>(package.Plugins->FindByID(PluginName(info)));
}

// The start-up record; the entry's ConfigFile is made absolute on the way and stored back.
KxStartupInfo StartupRecord(TPlugin& plugin, TkxPlugin& entry) {
  KxStartupInfo record{};
  record.structVersion = KX_STRUCT_VERSION;
  record.engineVersion = KX_ENGINE_VERSION;
  record.number = plugin.Number;
  if (!entry.ConfigFile.empty()) {
    if (!IsAbsolutePath(entry.ConfigFile)) {
      entry.ConfigFile = ExtractFilePath(plugin.FileName) + entry.ConfigFile;
    }
    plugin.ConfigFileName = entry.ConfigFile;
    // A longer path stays out of the record, whose field would cut it into the name of another
    // file; the engine's configuration commands read the whole path all the same.
    if (entry.ConfigFile.size() < sizeof(record.configFile)) {
      std::memcpy(record.configFile, entry.ConfigFile.c_str(), entry.ConfigFile.size() + 1);
    }
  }
  const TEngineEntries entries = EngineEntries();
  record.messageCodeEntry = entries.MessageCode;
  record.commandEntry = entries.Command;
  record.namedCommandEntry = entries.NamedCommand;
  return record;
}

// The library's plug-in, as far as it can be made before the package's entries are consulted;
// null when the library cannot be loaded or has no GetPluginInfo.
std::unique_ptr<TPlugin> OpenLibrary(TkxPackage& package, const std::string& libraryPath) {
  TPluginCodeScope inPlugin(libraryPath);
  auto plugin = std::make_unique<TPlugin>();
  plugin->Handle = os::Library::Load(libraryPath);
  if (!plugin->Handle.IsLoaded()) return nullptr;
  plugin->FileName = libraryPath;
  plugin->Number = Plugins().Count() + 1;
  plugin->Package = &package;
  plugin->Identity = ++lastIdentity;
  plugin->InfoEntry =
      reinterpret_cast<KxGetPluginInfoEntry>(plugin->Handle.Symbol("GetPluginInfo"));
  if (!plugin->InfoEntry) return nullptr;
  plugin->Info = KxPluginInfo{};
  plugin->Info.structVersion = KX_STRUCT_VERSION;
  plugin->InfoEntry(&plugin->Info);
  return plugin;
}

// Sends the three events of the load to the plug-in, which is in the list; false when it
// refused EV_LOAD (it is then gone).
bool Start(TPlugin& plugin, TkxPlugin& entry) {
  KxStartupInfo record = StartupRecord(plugin, entry);
  SendToPlugin(plugin, EV_SETSTARTUPINFO, reinterpret_cast<intptr_t>(&record), 0);
  if (SendToPlugin(plugin, EV_LOAD, 0, 0) != 0) {
    Plugins().Take(Plugins().IndexOf(&plugin));
    return false;
  }
  const std::string language = GetVariable(&MainDatabase(), "LangID", "ENU");
  SendToPlugin(plugin, EV_LANGUAGECHANGED, reinterpret_cast<intptr_t>(language.c_str()), 0);
  return true;
}

// The first library of the folder that is accepted; false when none is (an empty or missing
// folder included).
bool LoadFromFolder(TkxPackage& package, const std::string& folder) {
  std::vector<os::FindData> entries;
  os::ListFolder(folder, entries);
  for (const os::FindData& found : entries) {
    if (found.attributes & os::kAttrDirectory) continue;
    if (!MatchWild(found.name, "*.dll", true)) continue;
    if (LoadPlugin(package, folder + found.name)) return true;
  }
  return false;
}

}  // namespace

TPluginList::~TPluginList() {
  for (std::unique_ptr<TPlugin>& plugin : items_) {
    if (plugin) KeptLibraries().push_back(std::move(plugin->Handle));
  }
}

TPlugin* TPluginList::PluginAt(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

TPlugin* TPluginList::FindPlugin(int32_t number) const {
  for (const auto& plugin : items_) {
    if (plugin->Number == number) return plugin.get();
  }
  return nullptr;
}

TPlugin* TPluginList::FindByIdentity(uintptr_t identity) const {
  for (const auto& plugin : items_) {
    if (plugin->Identity == identity) return plugin.get();
  }
  return nullptr;
}

int TPluginList::IndexOf(const TPlugin* plugin) const {
  for (int index = 0; index < Count(); ++index) {
    if (items_[static_cast<size_t>(index)].get() == plugin) return index;
  }
  return -1;
}

void TPluginList::Add(std::unique_ptr<TPlugin> plugin) {
  if (plugin) items_.push_back(std::move(plugin));
}

// The library's own code runs as it is unloaded (its destructors, its DllMain).
TPlugin::~TPlugin() {
  TPluginCodeScope inPlugin(FileName);
  Handle.Unload();
}

std::unique_ptr<TPlugin> TPluginList::Take(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  std::unique_ptr<TPlugin> taken = std::move(items_[static_cast<size_t>(index)]);
  items_.erase(items_.begin() + index);
  return taken;
}

TPluginList& Plugins() {
  // Never destroyed: the list outlives every static object that might broadcast at the end.
  static auto* list = new TPluginList;
  return *list;
}

TPlugin* FindPlugin(int32_t number) { return Plugins().FindPlugin(number); }

bool LoadPlugins(TkxPackage& package) {
  // From now on the expression and database services reach the plug-ins through the host.
  SetPluginChannel(&HostChannel());
  if (!package.Plugins) return true;
  const TkxPlugins& entries = *package.Plugins;
  for (int index = 0; index < entries.Count(); ++index) {
    const TkxPlugin* entry = entries.Items(index);
    if (!entry) continue;
    const std::string id = entry->ID;
    const std::string debugDll = entry->DebugDll;
    const bool loaded =
        !debugDll.empty()
            ? LoadPlugin(package, FullPath(debugDll))
            : LoadFromFolder(package,
                             Format("%splugins\\%d\\",
                                    WithTrailingBackslash(package.TempPath).c_str(), index));
    if (!loaded) {
      ErrorBox("Plug-in loading error", Format("Cannot load \"%s\" plug-in!", id.c_str()));
      return false;
    }
  }
  return true;
}

bool LoadPlugin(TkxPackage& package, const std::string& libraryPath) {
  std::unique_ptr<TPlugin> plugin = OpenLibrary(package, libraryPath);
  if (!plugin) return false;
  TkxPlugin* entry = AcceptingEntry(package, plugin->Info);
  if (!entry) return false;
  plugin->Config = entry->Config.get();
  plugin->CustomConfig = entry->CustomConfig.get();
  if (!CheckCondition(*entry)) return true;
  TPlugin& added = *plugin;
  Plugins().Add(std::move(plugin));
  Start(added, *entry);
  return true;
}

void UnloadPlugin(int index) {
  TPlugin* plugin = Plugins().PluginAt(index);
  if (!plugin) return;
  SendToPlugin(*plugin, EV_UNLOAD, 0, 0);
  Plugins().Take(Plugins().IndexOf(plugin));
}

void UnloadPlugins() {
  while (Plugins().Count() > 0) UnloadPlugin(Plugins().Count() - 1);
}

void ReleaseLibrariesAfterCrash() {
  for (int index = Plugins().Count() - 1; index >= 0; --index) {
    TPlugin* plugin = Plugins().PluginAt(index);
    if (!plugin) continue;
    TPluginCodeScope inPlugin(plugin->FileName);
    plugin->Handle.Unload();
  }
}
