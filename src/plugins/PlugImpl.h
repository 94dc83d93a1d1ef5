// PlugImpl: the messages between the engine and its plug-ins. The message-name store gives every
// message its number and name; the broadcast delivers events to the loaded plug-ins in load
// order; the engine's three entries (message code, command, named command) are what a plug-in
// receives in its start-up record to talk back; and the plug-in channel lets the expression and
// database services reach the plug-ins.
//
// Threads. Plug-in event entries are called on the main thread only: a broadcast asked for on
// another thread is handed to the main thread as a cross-thread record and waits for its
// answer. Direct calls to one plug-in (SendToPlugin) run on the calling thread. The entries run
// on whatever thread the plug-in calls them from. The store may be used from any thread.
//
// Trust. Nothing a plug-in hands in is believed: null texts read as empty texts, a record
// pointer is checked before it is read, and no error of the engine crosses an entry back into
// the plug-in (the entry shows it in an error box and answers 0).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "kxplugin.h"

struct TPlugin;
class TkxPluginChannel;

// The names of the messages and their numbers: the predefined events (1 to 22) and commands (256
// to 279), then every other name asked for, numbered from 4096 on. Only grows.
class TMsgStore {
 public:
  TMsgStore();
  // The number of name (case ignored); a new name gets the next free number. 0 for an empty
  // name, which no message has.
  int32_t MessageCode(const std::string& name);
  // The first name registered with number; "" when none.
  std::string MessageName(int32_t number) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, int32_t>> entries_;
  int32_t next_ = KX_FIRST_NAMED_MESSAGE;
};

// The run's one store, made on first use.
TMsgStore& MsgStore();
int32_t MessageCode(const std::string& name);
std::string MessageName(int32_t number);

// A broadcast asked for on another thread, on its way to the main thread.
struct TCrossThreadRecord {
  int32_t Sender;
  int32_t Number;
  intptr_t First;
  intptr_t Second;
  bool ToAll;
};
// On the main thread: broadcasts what the record (a TCrossThreadRecord made with new) carries,
// frees it and returns the answer. The main window's handler for the records it is sent.
intptr_t DeliverCrossThreadRecord(void* record);

// Delivers the message to every loaded plug-in in load order except the one numbered sender
// (0: the engine, which is no plug-in). With toAll false the first non-zero answer stops the
// delivery and is returned; with toAll true every plug-in is called and the last answer returned.
intptr_t BroadcastFrom(int32_t sender, int32_t number, intptr_t first, intptr_t second, bool toAll);
// The engine's broadcast (sender 0).
intptr_t Broadcast(int32_t event, intptr_t first, intptr_t second, bool toAll);
// Broadcast with the number of name, registered when new.
intptr_t BroadcastNamed(const std::string& name, intptr_t first, intptr_t second, bool toAll);
// Calls that one plug-in's event entry on the calling thread; 0, without a call, when number has
// no name in the store.
intptr_t SendToPlugin(TPlugin& plugin, int32_t number, intptr_t first, intptr_t second);

// Marks, for the calling thread, that a plug-in library's code runs: while the library loads or
// unloads, and while one of its entries is called. Scopes nest; the innermost names the library
// that a fault on this thread belongs to.
class TPluginCodeScope {
 public:
  explicit TPluginCodeScope(const std::string& libraryPath);
  ~TPluginCodeScope();
  TPluginCodeScope(const TPluginCodeScope&) = delete;
  TPluginCodeScope& operator=(const TPluginCodeScope&) = delete;

 private:
  const char* previous_;
};
// The file name of the library whose code the calling thread runs; null outside plug-in code.
// Made for a crash handler: it only reads the calling thread's slot and the path it points to.
const char* PluginLibraryInCall();

// The engine's entries, as the start-up record carries them.
struct TEngineEntries {
  kx_ptr MessageCode;
  kx_ptr Command;
  kx_ptr NamedCommand;
};
TEngineEntries EngineEntries();

// The owner under which the plug-in's functions are registered with the evaluator; the host
// channel's SendToPlugin finds the plug-in by it while it is loaded.
const void* FunctionOwnerOf(const TPlugin& plugin);

// The channel of the loaded plug-ins, which the plug-in host installs once plug-ins can be
// loaded. Its SendToPlugin takes the owner that CM_REGISTERFUNCTION gave the evaluator.
TkxPluginChannel& HostChannel();
